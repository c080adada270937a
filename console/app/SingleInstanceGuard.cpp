#include "app/SingleInstanceGuard.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

SingleInstanceGuard::SingleInstanceGuard(const QString& name)
    : m_name(name)
{
}

SingleInstanceGuard::~SingleInstanceGuard()
{
#ifdef _WIN32
    if (m_handle)
        CloseHandle(static_cast<HANDLE>(m_handle));
#else
    // Closing the descriptor drops the lock; the file stays for the next run.
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

bool SingleInstanceGuard::acquire()
{
    if (m_held)
        return true;
#ifdef _WIN32
    HANDLE handle = CreateMutexA(nullptr, FALSE, m_name.toLocal8Bit().constData());
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        if (handle)
            CloseHandle(handle);
        return false;
    }
    m_handle = handle;
    m_held = handle != nullptr;
    return m_held;
#else
    const QString path = QDir(QDir::tempPath()).absoluteFilePath(m_name + QStringLiteral(".lock"));
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return true; // no lock file possible: better a second console than none
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_held = true;
    return true;
#endif
}
