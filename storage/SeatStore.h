#pragma once

#include <QHash>
#include <QPoint>
#include <QSqlDatabase>
#include <QString>

// Where each machine sits in the room (grid cells, keyed by MAC) and whether
// the pages show the seat plan, in tables of their own beside the console's
// three: tb_seats and tb_view_options. Used from the thread that opened the
// connection. Without a usable database it keeps nothing and says so once
// through lastError().
class SeatStore final
{
public:
    // Creates the tables where missing; false when the connection is unusable.
    bool open(const QSqlDatabase& db);

    QHash<quint64, QPoint> loadSeats();
    bool saveSeats(const QHash<quint64, QPoint>& seats);

    bool seatPlanShown();
    bool setSeatPlanShown(bool shown);

    QString lastError() const { return last_error; }
    bool isOpen() const { return usable; }
    void close();

private:
    bool fail(const QString& what, const QString& why);
    // A handle for the moment only: a kept copy would hold the connection
    // open past the registry's close.
    QSqlDatabase database() const;

    QString connection_name;
    bool usable = false;
    QString last_error;
};
