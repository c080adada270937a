#include "app/StartupNotices.h"

#include "dialogs/MessageBox.h"
#include "storage/EventLogStore.h"

#include <QStatusBar>
#include <QStringList>
#include <utility>

StartupNotices::StartupNotices(QWidget* window_, QStatusBar* statusBar, EventLogStore* log_)
    : QObject(window_)
    , window(window_)
    , status_bar(statusBar)
    , log(log_)
{
}

void StartupNotices::add(const QString& title, const QString& text, Reach reach)
{
    if (text.isEmpty())
        return;
    const Notice notice { title, text, reach };
    if (released)
        tell({ notice });
    else
        waiting << notice;
}

void StartupNotices::release()
{
    if (released)
        return;
    released = true;
    const QList<Notice> notices = std::exchange(waiting, {});
    if (!notices.isEmpty())
        tell(notices);
}

void StartupNotices::tell(const QList<Notice>& notices)
{
    QStringList titles;
    QStringList boxed;
    for (const Notice& notice : notices) {
        titles << notice.title;
        // One line per row, as the log's table and its export show them.
        if (log)
            log->add(EventLogStore::Notice, QStringLiteral("全部"), 0, QString(),
                QStringLiteral("%1：%2").arg(
                    notice.title, QString(notice.text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
        if (notice.reach == LogAndBox)
            boxed << QStringLiteral("%1：\n%2").arg(notice.title, notice.text);
    }
    if (status_bar) {
        const QString first = notices.first().text.section(QLatin1Char('\n'), 0, 0);
        status_bar->showMessage(notices.size() == 1 ? QStringLiteral("%1：%2").arg(titles.first(), first)
                                                    : QStringLiteral("启动时发现 %1 个问题（%2），见日志")
                                                          .arg(notices.size())
                                                          .arg(titles.join(QStringLiteral("、"))),
            StatusMessageMs);
    }
    if (!boxed.isEmpty())
        MessageBox::notice(window, QStringLiteral("启动提示"), boxed.join(QStringLiteral("\n\n")));
}
