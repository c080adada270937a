#include "seatplan/SeatPlanView.h"

#include "pages/LockBadge.h"
#include "pages/MachineRows.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMap>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QRubberBand>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <iterator>

namespace {

constexpr int Margin = 8;
constexpr int TileGap = 8;
// A room's heading at 100 %, and the space above the next one.
constexpr int HeadingHeight = 30;
constexpr int RoomGap = 12;

} // namespace

SeatPlanView::SeatPlanView(const MachineRows* rows_, QWidget* parent)
    : QWidget(parent)
    , rows(rows_)
    , model(rows_->model())
    , seat_map(std::make_shared<SeatMap>())
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    setFocusPolicy(Qt::ClickFocus);

    sync_timer = new QTimer(this);
    sync_timer->setSingleShot(true);
    sync_timer->setInterval(0);
    connect(sync_timer, &QTimer::timeout, this, &SeatPlanView::sync);

    const auto structural = [this] {
        layout_dirty = true;
        scheduleSync();
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, structural);
    connect(model, &QAbstractItemModel::rowsRemoved, this, structural);
    connect(model, &QAbstractItemModel::rowsMoved, this, structural);
    connect(model, &QAbstractItemModel::modelReset, this, structural);
    // A header sort renumbers the rows.
    connect(model, &QAbstractItemModel::layoutChanged, this, structural);
    connect(model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
            if (layout_dirty)
                return;
            for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
                dirty_rows.insert(row);
            scheduleSync();
        });
}

void SeatPlanView::setSeatMap(std::shared_ptr<SeatMap> seats)
{
    seat_map = seats ? std::move(seats) : std::make_shared<SeatMap>();
    invalidate();
}

void SeatPlanView::setLockSource(LockSource source)
{
    lock_source = std::move(source);
    update();
}

void SeatPlanView::setRoomSource(RoomSource source)
{
    room_source = std::move(source);
    invalidate();
}

void SeatPlanView::setZoom(int zoom)
{
    zoom = zoom == FitZoom ? FitZoom : std::clamp(zoom, int(MinZoom), int(MaxZoom));
    if (zoom == zoom_setting)
        return;
    zoom_setting = zoom;
    applyExtent();
    emit sg_zoom_changed(zoom_setting);
}

QSize SeatPlanView::cellSize() const
{
    // Rounded down: a fitted row of cells never needs a scroll bar.
    return QSize(int(CellWidth * scale + 1e-6), int(CellHeight * scale + 1e-6));
}

QScrollArea* SeatPlanView::scrollArea() const
{
    return qobject_cast<QScrollArea*>(parentWidget() ? parentWidget()->parentWidget() : nullptr);
}

bool SeatPlanView::updateScale()
{
    double wanted = zoom_setting / 100.0;
    if (zoom_setting == FitZoom) {
        int width = this->width();
        if (const QScrollArea* area = scrollArea()) {
            // As if the vertical scroll bar were shown: the tiles keep their
            // size when it comes or goes.
            width = area->maximumViewportSize().width()
                - area->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area->verticalScrollBar());
        }
        wanted = std::clamp(double(width - 2 * Margin) / (room_columns * CellWidth), MinZoom / 100.0, MaxZoom / 100.0);
    }
    if (qFuzzyCompare(wanted, scale))
        return false;
    scale = wanted;
    return true;
}

void SeatPlanView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (zoom_setting == FitZoom)
        applyExtent();
}

void SeatPlanView::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        event->ignore(); // the scroll area scrolls
        return;
    }
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0)
        setZoom(scalePercent() + steps * ZoomStep);
    event->accept();
}

void SeatPlanView::invalidate()
{
    layout_dirty = true;
    scheduleSync();
}

void SeatPlanView::scheduleSync()
{
    // A hidden view catches up when it is shown.
    if (isVisible() && !sync_timer->isActive())
        sync_timer->start();
}

void SeatPlanView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    sync();
}

void SeatPlanView::sync()
{
    sync_timer->stop();
    if (layout_dirty) {
        relayout();
        return;
    }
    if (dirty_rows.isEmpty())
        return;
    for (const int row : qAsConst(dirty_rows)) {
        const quint64 mac = rows->macAt(row);
        const int i = tile_of_mac.value(mac, -1);
        Tile* tile = i < 0 ? nullptr : &tiles[i];
        const QString group = tile ? tile->group : QString();
        if (tile && tile->row == row)
            readRow(*tile);
        // A row now shows another machine, or its machine went to another
        // room: only a full pass gets it right.
        if (!tile || mac == 0 || tile->row != row || (room_source && tile->group != group)) {
            relayout();
            return;
        }
        // Thousands of small rectangles would cost more to merge than one
        // repaint of what is shown.
        if (dirty_rows.size() <= 32)
            update(cellRect(*tile));
    }
    if (dirty_rows.size() > 32)
        update();
    dirty_rows.clear();
}

void SeatPlanView::readRow(Tile& tile) const
{
    const MachineRows::Shown shown = rows->shownAt(tile.row);
    tile.host = shown.host;
    tile.ip = shown.ip;
    tile.macText = shown.macText;
    tile.state = MachineRows::stateText(shown.state);
    tile.color = shown.stateColor;
    tile.hidden = shown.hidden;
    tile.group = shown.group;
}

void SeatPlanView::relayout()
{
    layout_dirty = false;
    dirty_rows.clear();
    tiles.clear();
    tile_of_mac.clear();
    sections.clear();

    const int count = rows->rowCount();
    tiles.reserve(count);
    // The rooms in their order; without a source one room holds every tile.
    QMap<QPair<int, QString>, QVector<int>> rooms;
    for (int row = 0; row < count; ++row) {
        const quint64 mac = rows->macAt(row);
        // A machine listed twice keeps one tile.
        if (mac == 0 || tile_of_mac.contains(mac))
            continue;
        Tile tile;
        tile.mac = mac;
        tile.row = row;
        readRow(tile);
        const Room room = room_source ? room_source(mac) : Room();
        tile_of_mac.insert(mac, tiles.size());
        rooms[qMakePair(room.order, room.name)].append(tiles.size());
        tiles.append(tile);
    }
    if (rooms.isEmpty())
        rooms.insert(qMakePair(0, QString()), {});
    for (auto it = rooms.cbegin(); it != rooms.cend(); ++it) {
        Section section;
        section.order = it.key().first;
        section.name = it.key().second;
        section.tiles = it.value();
        QVector<SeatLayout::Machine> machines;
        machines.reserve(section.tiles.size());
        for (const int i : qAsConst(section.tiles)) {
            tiles[i].section = sections.size();
            machines.append({ tiles[i].mac, tiles[i].host });
        }
        // Each room in its own seats, as on its own page.
        section.layout.place(machines, *seat_map);
        for (int local = 0; local < section.tiles.size(); ++local)
            tiles[section.tiles[local]].cell = section.layout.cellAt(local);
        sections.append(section);
    }

    for (auto it = selected.begin(); it != selected.end();)
        it = tile_of_mac.contains(*it) ? std::next(it) : selected.erase(it);
    updateExtent();
}

void SeatPlanView::updateExtent()
{
    room_columns = FreeColumns;
    for (Section& section : sections) {
        section.room = section.layout.extent();
        room_columns = std::max(room_columns, section.room.width());
    }
    applyExtent();
}

int SeatPlanView::headingHeight() const
{
    // Never below its size at 100 %: small tiles still show whose room it is.
    return room_source ? qRound(HeadingHeight * std::max(1.0, scale)) : 0;
}

void SeatPlanView::applyExtent()
{
    const bool rescaled = updateScale();
    const QSize cell = cellSize();
    int bottom = Margin;
    for (int i = 0; i < sections.size(); ++i) {
        if (i > 0)
            bottom += qRound(RoomGap * scale);
        sections[i].top = bottom + headingHeight();
        bottom = sections[i].top + sections[i].room.height() * cell.height();
    }
    // A spare row to drag into below a room taller than the window (the
    // view is never narrower than its scroll area, which gives room sideways).
    extent = QSize(Margin * 2 + room_columns * cell.width(), bottom + cell.height() + Margin);
    // Fitted, the view follows the scroll area's width, and the tiles with
    // it down to the smallest zoom; only below that does it scroll sideways.
    const int narrowest
        = zoom_setting == FitZoom ? Margin * 2 + room_columns * (CellWidth * MinZoom / 100) : extent.width();
    setMinimumSize(std::min(narrowest, extent.width()), extent.height());
    updateGeometry();
    update();
    if (rescaled)
        emit sg_scale_changed(scalePercent());
}

QSize SeatPlanView::sizeHint() const
{
    return extent.isValid() ? extent : QSize(Margin * 2 + FreeColumns * CellWidth, Margin * 2 + CellHeight);
}

QRect SeatPlanView::cellRect(int section, const QPoint& cell) const
{
    const QSize size = cellSize();
    const int gap = std::max(4, qRound(TileGap * scale));
    const int top = section >= 0 && section < sections.size() ? sections[section].top : Margin;
    return QRect(
        Margin + cell.x() * size.width(), top + cell.y() * size.height(), size.width() - gap, size.height() - gap);
}

SeatPlanView::Spot SeatPlanView::spotAt(const QPoint& pos) const
{
    const QSize size = cellSize();
    const int x = pos.x() - Margin;
    if (x < 0)
        return {};
    for (int i = 0; i < sections.size(); ++i) {
        const int y = pos.y() - sections[i].top;
        if (y >= 0 && y < sections[i].room.height() * size.height())
            return { i, QPoint(x / size.width(), y / size.height()) };
    }
    return {};
}

QRect SeatPlanView::headingRect(int section) const
{
    const int height = headingHeight();
    return QRect(Margin, sections[section].top - height, room_columns * cellSize().width(), height);
}

int SeatPlanView::sectionLock(const Section& section) const
{
    return lock_source && !section.tiles.isEmpty() ? lock_source(tiles[section.tiles.first()].mac) : 0;
}

QList<SeatPlanView::Heading> SeatPlanView::headings() const
{
    QList<Heading> shown;
    if (!room_source)
        return shown;
    for (int i = 0; i < sections.size(); ++i)
        shown << Heading { sections[i].name, sectionLock(sections[i]), headingRect(i) };
    return shown;
}

const SeatPlanView::Tile* SeatPlanView::tileOf(quint64 mac) const
{
    const int i = tile_of_mac.value(mac, -1);
    return i < 0 ? nullptr : &tiles[i];
}

QPoint SeatPlanView::cellOf(quint64 mac) const
{
    const Tile* tile = tileOf(mac);
    return tile ? tile->cell : QPoint(-1, -1);
}

bool SeatPlanView::tileShown(quint64 mac) const
{
    const Tile* tile = tileOf(mac);
    return tile && !tile->hidden;
}

QColor SeatPlanView::stateColor(quint64 mac) const
{
    const Tile* tile = tileOf(mac);
    return tile ? tile->color : QColor();
}

QRect SeatPlanView::tileRect(quint64 mac) const
{
    const Tile* tile = tileOf(mac);
    return tile ? cellRect(*tile) : QRect();
}

quint64 SeatPlanView::macAt(const QPoint& pos) const
{
    const Spot spot = spotAt(pos);
    if (spot.section < 0)
        return 0;
    const Section& section = sections[spot.section];
    const int local = section.layout.indexAt(spot.cell);
    if (local < 0)
        return 0;
    const Tile& tile = tiles[section.tiles[local]];
    return !tile.hidden && cellRect(tile).contains(pos) ? tile.mac : 0;
}

QList<quint64> SeatPlanView::selectedMacs() const
{
    // In the order of the rows, so commands act as they would on the table.
    QList<quint64> macs;
    for (const Tile& tile : tiles)
        if (selected.contains(tile.mac) && !tile.hidden)
            macs << tile.mac;
    return macs;
}

void SeatPlanView::setSelectedMacs(const QList<quint64>& macs)
{
    selected.clear();
    for (const quint64 mac : macs)
        if (tile_of_mac.contains(mac))
            selected.insert(mac);
    update();
}

bool SeatPlanView::moveTiles(const QList<quint64>& macs, const QPoint& offset)
{
    // Each room's tiles within their room: the rooms' seats are their own.
    QMap<int, QList<quint64>> bySection;
    for (const quint64 mac : macs)
        if (const Tile* tile = tileOf(mac))
            bySection[tile->section] << mac;
    SeatMap moved;
    for (auto it = bySection.cbegin(); it != bySection.cend(); ++it) {
        const SeatMap seats = sections[it.key()].layout.move(it.value(), offset, *seat_map, fix_whole_room);
        for (auto seat = seats.cbegin(); seat != seats.cend(); ++seat) {
            tiles[tile_of_mac.value(seat.key())].cell = seat.value();
            seat_map->insert(seat.key(), seat.value());
            moved.insert(seat.key(), seat.value());
        }
    }
    if (moved.isEmpty())
        return false;
    updateExtent();
    emit sg_seats_moved(moved);
    return true;
}

void SeatPlanView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRect area = event->rect();
    // The texts grow and shrink with the tiles.
    TileFonts fonts { font(), font() };
    if (fonts.plain.pointSizeF() > 0)
        fonts.plain.setPointSizeF(fonts.plain.pointSizeF() * scale);
    else
        fonts.plain.setPixelSize(std::max(1, qRound(fonts.plain.pixelSize() * scale)));
    fonts.bold = fonts.plain;
    fonts.bold.setBold(true);
    if (room_source)
        for (int i = 0; i < sections.size(); ++i)
            if (headingRect(i).intersects(area))
                paintHeading(painter, i);
    for (const Tile& tile : qAsConst(tiles)) {
        if (tile.hidden || (dragging && selected.contains(tile.mac)))
            continue;
        if (cellRect(tile).intersects(area))
            paintTile(painter, fonts, tile, QPoint());
    }
    if (!dragging)
        return;
    // The moving tiles under the mouse, and dashed where they would land.
    const QPoint snap = snapped(drag_shift);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    for (const Tile& tile : qAsConst(tiles)) {
        if (tile.hidden || !selected.contains(tile.mac))
            continue;
        painter.drawRoundedRect(cellRect(tile.section, tile.cell + snap), 4, 4);
    }
    painter.setOpacity(0.8);
    for (const Tile& tile : qAsConst(tiles))
        if (!tile.hidden && selected.contains(tile.mac))
            paintTile(painter, fonts, tile, drag_shift);
}

void SeatPlanView::paintHeading(QPainter& painter, int section) const
{
    // The room's name, then its lock in words beside the badge, red while it
    // holds: the room's state read from across the room.
    const QRect rect = headingRect(section);
    const int lock = sectionLock(sections[section]);
    const double grow = 1.3 * std::max(1.0, scale);
    QFont big = font();
    big.setBold(true);
    if (big.pointSizeF() > 0)
        big.setPointSizeF(big.pointSizeF() * grow);
    else
        big.setPixelSize(qRound(big.pixelSize() * grow));
    QFont words = font();
    words.setBold(true);
    if (words.pointSizeF() > 0)
        words.setPointSizeF(words.pointSizeF() * std::max(1.0, scale));
    else
        words.setPixelSize(qRound(words.pixelSize() * std::max(1.0, scale)));
    painter.setFont(big);
    painter.setPen(palette().color(QPalette::Text));
    const QString name = sections[section].name;
    const int nameWidth = QFontMetrics(big).horizontalAdvance(name);
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, name);
    const int badge = rect.height() * 2 / 3;
    int x = rect.left() + nameWidth + badge / 2;
    if (lock != 0) {
        LockBadge::paint(painter, QRect(x, rect.top() + (rect.height() - badge) / 2, badge, badge), lock);
        x += badge + badge / 4;
    }
    painter.setFont(words);
    painter.setPen(lock != 0 ? QColor(QStringLiteral("#c62828")) : palette().color(QPalette::PlaceholderText));
    painter.drawText(QRect(x, rect.top(), std::max(0, rect.right() - x), rect.height()), Qt::AlignLeft | Qt::AlignVCenter,
        lock != 0 ? LockBadge::toolTip(lock) : QStringLiteral("未锁定"));
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.drawLine(rect.bottomLeft() - QPoint(0, 2), rect.bottomRight() - QPoint(0, 2));
}

void SeatPlanView::paintTile(QPainter& painter, const TileFonts& fonts, const Tile& tile, const QPoint& shift) const
{
    const QRect rect = cellRect(tile).translated(shift);
    const bool isSelected = selected.contains(tile.mac);
    const QColor border = tile.color.isValid() ? tile.color : palette().color(QPalette::Mid);
    painter.setPen(QPen(border, (isSelected ? 3 : 1.5) * std::max(1.0, scale * 0.8)));
    painter.setBrush(isSelected ? palette().color(QPalette::Highlight).lighter(190) : palette().color(QPalette::Base));
    painter.drawRoundedRect(QRectF(rect).adjusted(0.75, 0.75, -0.75, -0.75), 4 * scale, 4 * scale);

    // Three lines: name, then address and state beside the lock badge. The
    // badge spans two lines and grows with the zoom, to be read from afar.
    const int padX = qRound(6 * scale);
    const int padY = qRound(3 * scale);
    const QRect text = rect.adjusted(padX, padY, -padX, -padY);
    const int line = text.height() / 3;
    const int lock = lock_source ? lock_source(tile.mac) : 0;
    // The badge's room only while there is one: unlocked, the names show whole.
    const int badge = lock != 0 ? std::max(8, 2 * line - 2) : 0;
    painter.setFont(fonts.bold);
    painter.setPen(palette().color(QPalette::Text));
    // The name keeps the whole width: it is what the teacher looks for.
    const QRect nameLine(text.left(), text.top(), text.width(), line);
    painter.drawText(nameLine, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetrics(fonts.bold).elidedText(tile.host, Qt::ElideRight, nameLine.width()));
    painter.setFont(fonts.plain);
    const QFontMetrics plain(fonts.plain);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int besideBadge = text.width() - (badge ? badge + padX / 2 : 0);
    const QRect addressLine(text.left(), text.top() + line, besideBadge, line);
    painter.drawText(addressLine, Qt::AlignLeft | Qt::AlignVCenter,
        plain.elidedText(tile.ip, Qt::ElideRight, addressLine.width()));
    painter.setPen(border);
    painter.drawText(QRect(text.left(), text.top() + 2 * line, besideBadge, text.height() - 2 * line),
        Qt::AlignLeft | Qt::AlignVCenter, tile.state);

    if (lock != 0)
        LockBadge::paint(
            painter, QRect(text.left(), text.top() + line + (text.height() - line - badge) / 2, text.width(), badge), lock);
}

void SeatPlanView::mousePressEvent(QMouseEvent* event)
{
    sync();
    press_pos = event->pos();
    press_mac = macAt(event->pos());
    dragging = false;
    drag_shift = QPoint();
    const bool toggle = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
    // The right button's selection is the context menu's.
    if (event->button() != Qt::LeftButton)
        return;
    if (press_mac == 0) {
        if (!toggle)
            selected.clear();
        if (!rubber_band)
            rubber_band = new QRubberBand(QRubberBand::Rectangle, this);
        rubber_band->setGeometry(QRect(press_pos, QSize()));
        rubber_band->show();
    } else if (toggle) {
        if (!selected.remove(press_mac))
            selected.insert(press_mac);
    } else if (!selected.contains(press_mac)) {
        selected = { press_mac };
    }
    update();
}

void SeatPlanView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    if (rubber_band && rubber_band->isVisible()) {
        rubber_band->setGeometry(QRect(press_pos, event->pos()).normalized());
        return;
    }
    if (press_mac == 0 || !selected.contains(press_mac))
        return;
    if (!dragging && (event->pos() - press_pos).manhattanLength() < QApplication::startDragDistance())
        return;
    dragging = true;
    drag_shift = event->pos() - press_pos;
    // Near the edge of what is shown the room scrolls along, so a seat
    // beyond it can be reached; outside the view (towards the tabs) it stays.
    if (QScrollArea* area = scrollArea()) {
        if (visibleRegion().contains(event->pos()))
            area->ensureVisible(event->pos().x(), event->pos().y(), cellSize().width() / 2, cellSize().height() / 2);
    }
    update();
}

void SeatPlanView::mouseReleaseEvent(QMouseEvent* event)
{
    if (rubber_band && rubber_band->isVisible()) {
        const QRect band = rubber_band->geometry();
        rubber_band->hide();
        for (const Tile& tile : qAsConst(tiles))
            if (!tile.hidden && band.intersects(cellRect(tile)))
                selected.insert(tile.mac);
        update();
        return;
    }
    if (!dragging) {
        // A click on one of several selected tiles leaves that one alone.
        if (event->button() == Qt::LeftButton && press_mac
            && !(event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) && selected.size() > 1) {
            selected = { press_mac };
            update();
        }
        return;
    }
    dragging = false;
    const QList<quint64> macs = selectedMacs();
    const QPoint shift = event->pos() - press_pos;
    if (!visibleRegion().contains(event->pos())) {
        update();
        // Onto a tab, perhaps: the page's window decides.
        emit sg_tiles_dropped(macs, mapToGlobal(event->pos()));
        return;
    }
    moveTiles(macs, snapped(shift));
    update();
}

void SeatPlanView::contextMenuEvent(QContextMenuEvent* event)
{
    sync();
    const quint64 mac = macAt(event->pos());
    if (mac == 0)
        return;
    // As on the table: the menu acts on the selection when the tile is part
    // of it, else on the tile alone.
    if (!selected.contains(mac)) {
        selected = { mac };
        update();
    }
    emit sg_menu_requested(mac);
}

bool SeatPlanView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const quint64 mac = macAt(help->pos());
        if (mac == 0) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        const Tile& tile = *tileOf(mac);
        QToolTip::showText(help->globalPos(),
            QStringLiteral("%1\n%2\n%3\n%4").arg(tile.host, tile.ip, tile.macText, tile.state), this,
            cellRect(tile));
        return true;
    }
    return QWidget::event(event);
}
