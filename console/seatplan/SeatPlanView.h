#pragma once

#include "core/SeatLayout.h"

#include <QColor>
#include <QHash>
#include <QRect>
#include <QFont>
#include <QList>
#include <QPoint>
#include <QSet>
#include <QString>
#include <QVector>
#include <QWidget>
#include <functional>
#include <memory>

class QAbstractItemModel;
class QRubberBand;
class QTimer;
class MachineRows;

// A page's machines as tiles laid out like the room. It reads what the page's
// rows show (MachineRows: name, address, state and its colour, MAC, and whether
// the table hides the row), so it follows every change the table shows; where
// the tiles sit and where a move puts them is SeatLayout's. The tiles fit the
// width of the scroll area the view is in, or keep a size the teacher chose.
// Given rooms ("全部"), it lays them out one under the other, each under a
// heading with its name and lock, each in its own seats.
class SeatPlanView final : public QWidget
{
    Q_OBJECT

public:
    using SeatMap = SeatLayout::SeatMap;
    // Lock type (Rok_Lock_State) to show on a machine's tile.
    using LockSource = std::function<int(quint64 mac)>;
    // The room a machine's tile is shown in, and the rooms' order.
    struct Room
    {
        QString name;
        int order = 0;
    };
    using RoomSource = std::function<Room(quint64 mac)>;
    // A room's heading as shown: its name, its lock (Rok_Lock_State) and where.
    struct Heading
    {
        QString name;
        int lock = 0;
        QRect rect;
    };

    // A cell at 100 %.
    static constexpr int CellWidth = 106;
    static constexpr int CellHeight = 66;
    // The least width a fitted plan is made for: rooms narrower than eight
    // seats get tiles of the same size.
    static constexpr int FreeColumns = SeatLayout::FreeColumns;
    // The tile sizes the teacher can choose, in percent; 0 is "fit the width".
    static constexpr int FitZoom = 0;
    static constexpr int MinZoom = 50;
    static constexpr int MaxZoom = 250;
    static constexpr int ZoomStep = 10;

    explicit SeatPlanView(const MachineRows* rows, QWidget* parent = nullptr);

    void setSeatMap(std::shared_ptr<SeatMap> seats);
    void setLockSource(LockSource source);
    // Rooms one under the other; without a source, one room without heading.
    void setRoomSource(RoomSource source);
    // Whether a move also fixes the seats of the tiles shown in free cells
    // (a group's room), or only of the tiles moved ("全部", where the rooms of
    // all groups meet).
    void setFixWholeRoom(bool whole) { fix_whole_room = whole; }

    // FitZoom, or a percent (clamped to MinZoom..MaxZoom).
    void setZoom(int zoom);
    int zoom() const { return zoom_setting; }
    // The size the tiles have now, in percent.
    int scalePercent() const { return qRound(scale * 100); }
    QSize cellSize() const;

    // Re-reads every row on the next sync (the table's filter changed, or
    // the seats did on another page).
    void invalidate();
    // Applies what changed in the model since the last sync. Runs by itself
    // soon after a change while the view is shown.
    void sync();

    // The cell a machine's tile is in (after sync); (-1, -1) when none.
    QPoint cellOf(quint64 mac) const;
    bool tileShown(quint64 mac) const;
    QColor stateColor(quint64 mac) const;
    int tileCount() const { return tiles.size(); }
    // In their order, after sync; none without a room source.
    QList<Heading> headings() const;
    QRect tileRect(quint64 mac) const;
    // The MAC of the shown tile at a point, 0 for none.
    quint64 macAt(const QPoint& pos) const;

    QList<quint64> selectedMacs() const;
    void setSelectedMacs(const QList<quint64>& macs);
    // Puts the tiles into cells `offset` away (SeatLayout::move), keeps their
    // seats and announces them; false when refused.
    bool moveTiles(const QList<quint64>& macs, const QPoint& offset);

    QSize sizeHint() const override;

signals:
    // Seats the teacher gave; the shared map holds them already.
    void sg_seats_moved(const SeatMap& seats);
    // Right click on a tile (now selected).
    void sg_menu_requested(quint64 mac);
    // Tiles dragged and let go outside the view, at a global position.
    void sg_tiles_dropped(const QList<quint64>& macs, const QPoint& globalPos);
    // The zoom was set to another value (FitZoom or a percent).
    void sg_zoom_changed(int zoom);
    // The tiles took another size (a new zoom, or the width they fit changed).
    void sg_scale_changed(int percent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Tile
    {
        quint64 mac = 0;
        int row = -1;
        int section = 0;
        QString host;
        QString ip;
        QString macText;
        QString state;
        QColor color;
        QString group;
        QPoint cell;
        bool hidden = false;
    };

    struct TileFonts
    {
        QFont plain;
        QFont bold;
    };
    // One room's tiles: their layout, the room's size in cells and where its
    // first row of cells starts, below its heading.
    struct Section
    {
        QString name;
        int order = 0;
        SeatLayout layout;
        QVector<int> tiles; // by their index in the layout
        QSize room;
        int top = 0;
    };
    struct Spot
    {
        int section = -1;
        QPoint cell { -1, -1 };
    };

    void scheduleSync();
    void relayout();
    void readRow(Tile& tile) const;
    QRect cellRect(int section, const QPoint& cell) const;
    QRect cellRect(const Tile& tile) const { return cellRect(tile.section, tile.cell); }
    Spot spotAt(const QPoint& pos) const;
    int headingHeight() const;
    QRect headingRect(int section) const;
    int sectionLock(const Section& section) const;
    void paintHeading(class QPainter& painter, int section) const;
    void paintTile(class QPainter& painter, const TileFonts& fonts, const Tile& tile, const QPoint& shift) const;
    // A drag by `shift` pixels in cells.
    QPoint snapped(const QPoint& shift) const { return SeatLayout::snapped(shift, cellSize()); }
    // The tile of a machine, null for none.
    const Tile* tileOf(quint64 mac) const;
    // The rooms' sizes in cells, then applyExtent().
    void updateExtent();
    // The view's size for the room at the zoom's scale.
    void applyExtent();
    // The scale of the zoom, fitted to the width available; true when it changed.
    bool updateScale();
    class QScrollArea* scrollArea() const;

    const MachineRows* rows = nullptr;
    QAbstractItemModel* model = nullptr;
    std::shared_ptr<SeatMap> seat_map;
    LockSource lock_source;
    RoomSource room_source;
    bool fix_whole_room = true;
    int zoom_setting = FitZoom;
    double scale = 1.0;

    QVector<Tile> tiles; // in the order of the rows
    QHash<quint64, int> tile_of_mac;
    QVector<Section> sections;
    QSize extent;
    int room_columns = FreeColumns;
    QSet<quint64> selected;

    bool layout_dirty = true;
    QSet<int> dirty_rows;
    QTimer* sync_timer = nullptr;

    // Mouse: a press on a tile may become a drag of the selection, a press
    // on empty ground a rubber band.
    QPoint press_pos;
    quint64 press_mac = 0;
    bool dragging = false;
    QPoint drag_shift;
    QRubberBand* rubber_band = nullptr;
};
