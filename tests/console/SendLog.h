#pragma once

#include "core/Protocol.h"
#include "pages/QStudentGroupWidget.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QObject>
#include <QThread>

namespace MainWindowTest {

// Every datagram a page emits on the UI thread, in emission order across all
// watched pages. The pages' resend threads repeat the same signal; those
// repetitions are not commands and are left out. Declare the log before the
// window: those threads call into it until the window has joined them.
class SendLog final : public QObject
{
public:
    struct Sent
    {
        QStudentGroupWidget* page = nullptr;
        uint32_t address = 0;
        QByteArray datagram;
    };

    void watch(QStudentGroupWidget* page)
    {
        // On a resend thread nothing of the closure is touched.
        connect(
            page, &QStudentGroupWidget::sg_need_send_msg, this,
            [this, page](uint32_t address, const QByteArray& datagram) {
                if (QThread::currentThread() == QCoreApplication::instance()->thread())
                    sent << Sent { page, address, datagram };
            },
            Qt::DirectConnection);
    }

    // Every page of a window.
    template <typename Window> void watchAll(const Window& window)
    {
        for (int i = 0; i < window.tabWidget()->count(); ++i)
            watch(window.pageAt(i));
    }

    QList<Sent> ofId(uint32_t id) const
    {
        QList<Sent> matching;
        for (const Sent& one : sent)
            if (Protocol::consoleMessageId(one.datagram) == id)
                matching << one;
        return matching;
    }

    // The page's own, of `id`.
    QList<Sent> ofId(uint32_t id, const QStudentGroupWidget* page) const
    {
        QList<Sent> matching;
        for (const Sent& one : ofId(id))
            if (one.page == page)
                matching << one;
        return matching;
    }

    QList<Sent> sent;
};

inline uint32_t lockWord(const QByteArray& datagram)
{
    uint32_t word = 0;
    return Protocol::parseLockState(datagram, word) ? word : 0;
}

inline uint32_t joinAddress(const QByteArray& datagram)
{
    uint32_t address = 0;
    return Protocol::parseJoinGroup(datagram, address) ? address : 0;
}

} // namespace MainWindowTest
