#pragma once

// Turns SIGTERM, SIGINT and SIGHUP into a normal end of the event loop, so a
// console stopped by the system or a terminal still saves the teacher's work
// through its regular shut-down. Does nothing on Windows, where a session end
// arrives as the application's commitDataRequest.
class ShutdownSignals final
{
public:
    ShutdownSignals() = delete;

    // Call once, after the application object exists.
    static void install();
};
