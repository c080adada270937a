#include "AgentSimulator.h"
#include "SimulatorOptions.h"

#include <QCoreApplication>
#include <QTextCodec>
#include <cstdio>

int main(int argc, char* argv[])
{
    // Only for the arguments in the system's encoding; the simulator runs its own loop.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rok-agentsim"));

    SimulatorOptions options;
    QString message;
    switch (SimulatorOptions::parse(QCoreApplication::arguments(), options, message)) {
    case SimulatorOptions::ParseResult::Help:
        std::fputs(message.toLocal8Bit().constData(), stdout);
        return 0;
    case SimulatorOptions::ParseResult::Error:
        std::fprintf(stderr, "rok-agentsim: %s\nTry 'rok-agentsim --help'.\n", message.toLocal8Bit().constData());
        return 2;
    case SimulatorOptions::ParseResult::Run:
        break;
    }

    // Wire texts go through the local 8-bit codec.
    if (!options.codePage.isEmpty())
        QTextCodec::setCodecForLocale(QTextCodec::codecForName(options.codePage));
    AgentSimulator simulator(options);
    QString error;
    if (!simulator.open(error)) {
        std::fprintf(stderr, "rok-agentsim: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return simulator.run();
}
