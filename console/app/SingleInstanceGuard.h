#pragma once

#include <QString>

// One console per PC. On Windows this is the named kernel mutex; elsewhere an
// exclusive lock on a file in the temporary directory. Both are released by
// the operating system when the process ends, however it ends.
class SingleInstanceGuard final
{
public:
    explicit SingleInstanceGuard(const QString& name);
    ~SingleInstanceGuard();

    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    // False when another process already holds the name.
    bool acquire();
    bool isHeld() const { return m_held; }

private:
    QString m_name;
    bool m_held = false;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
