#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the command line asks of one benchmark run.
struct BenchOptions
{
    int agents = 5000;
    int groups = 50;
    // Steady window of the scale run, seconds.
    int windowSeconds = 180;
    int silent = 500;
    // Central policy entries per list (0 to 4) in the stored school.
    int catalog = 4;
    // Seconds per phase and rounds of the receive-path comparison.
    double phaseSeconds = 3;
    int rounds = 3;
    // Repetitions of start/stop and of the lock command.
    int repeats = 5;
    int commands = 20;
    // The lock command with the simulated school heartbeating meanwhile.
    bool commandUnderLoad = true;
    // The student run: seconds of each attack, foreign lock words a second.
    int attackSeconds = 30;
    int studentRate = 10;
    // The student run's attacks (empty: all) and the rates of those that
    // have one.
    QStringList studentModes;
    QList<int> studentRates { 3, 10, 50 };
    // The flood run: its attack (registrations or policy), and for the
    // policy reports their rate a second and their seconds.
    QString floodAttack;
    int floodRate = 10000;
    int floodSeconds = 5;
    // Rows of the event log run's tables.
    int logRows = 1000000;
    QString dataDir; // the "open" step of start/stop
};
