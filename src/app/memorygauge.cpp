#include "memorygauge.h"

#include "msgstr.h"
#include "zxdata.h"
#include "zxkbddrv.h"
#include "zxkinds.h"

#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace {

constexpr int kBarHeight = 12;

QColor songColour() {
    return QColor(70, 130, 200);
}
QColor rhythmColour() {
    return QColor(230, 160, 60);
}

} // namespace

std::optional<SongMemory> songMemoryOf(ZxKbdDrv& drive) {
    if (!drive.isListed())
        return std::nullopt;
    SongMemory memory;
    bool haveFree = false;
    ZxDataDrive& root = drive.root();
    // The song and rhythm folders may sit anywhere below the top; walk the whole tree.
    std::vector<ZxDataDrive*> folders{&root};
    while (!folders.empty()) {
        ZxDataDrive* folder = folders.back();
        folders.pop_back();
        for (int i = 0; i < folder->childCount(); ++i) {
            ZxData* child = folder->child(i);
            if (auto* sub = dynamic_cast<ZxDataDrive*>(child)) {
                folders.push_back(sub);
                if (sub->kind() == ZxKind::Song && !haveFree) {
                    memory.free = static_cast<std::uint32_t>(std::max(0, sub->freeSpace()));
                    haveFree = true;
                }
                continue;
            }
            if (!child->isPresent())
                continue;
            if (child->kind() == ZxKind::Song)
                memory.songs += child->size();
            else if (child->kind() == ZxKind::Rhythm)
                memory.rhythms += child->size();
        }
    }
    return memory;
}

std::uint32_t roomFor(const SongMemory& memory, std::uint16_t kind, const ZxData* target) {
    return static_cast<std::uint32_t>(songMemoryRoom(memory.free, kind, target));
}

MemoryGauge::MemoryGauge(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("MemoryGauge"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setVisible(false);
}

void MemoryGauge::setMemory(const std::optional<SongMemory>& memory) {
    m_memory = memory;
    setVisible(memory.has_value());
    setToolTip(text());
    update();
}

void MemoryGauge::setNeed(std::uint32_t need, std::uint32_t room) {
    m_need = need;
    m_room = room;
    setToolTip(text());
    update();
}

void MemoryGauge::clearNeed() {
    m_need.reset();
    setToolTip(text());
    update();
}

QString MemoryGauge::text() const {
    if (!m_memory)
        return {};
    QString line = localText("Song memory: songs %1, rhythms %2, free %3 of %4 bytes",
                             "ソングメモリ: ソング %1、リズム %2、空き %3 / %4 バイト")
                       .arg(m_memory->songs)
                       .arg(m_memory->rhythms)
                       .arg(m_memory->free)
                       .arg(m_memory->total());
    if (m_need && fits())
        line += QStringLiteral(" — ") + localText("the file needs %1 bytes and fits",
                                                  "このファイルは %1 バイト必要で、入ります")
                                            .arg(*m_need);
    else if (m_need)
        line += QStringLiteral(" — ") +
                localText("the file needs %1 bytes and does not fit (room: %2)",
                          "このファイルは %1 バイト必要で、入りません (空き: %2)")
                    .arg(*m_need)
                    .arg(m_room);
    return line;
}

QSize MemoryGauge::sizeHint() const {
    return {200, kBarHeight + fontMetrics().height() + 8};
}

void MemoryGauge::paintEvent(QPaintEvent*) {
    if (!m_memory)
        return;
    QPainter painter(this);
    const QRect bar(2, 2, width() - 4, kBarHeight);
    painter.fillRect(bar, palette().color(QPalette::Base));
    const double total = std::max<std::uint32_t>(1, m_memory->total());
    const auto widthOf = [&](std::uint32_t bytes) {
        return static_cast<int>(bar.width() * (bytes / total) + 0.5);
    };
    const int songs = widthOf(m_memory->songs);
    const int rhythms = widthOf(m_memory->rhythms);
    painter.fillRect(QRect(bar.left(), bar.top(), songs, bar.height()), songColour());
    painter.fillRect(QRect(bar.left() + songs, bar.top(), rhythms, bar.height()), rhythmColour());
    if (m_need) {
        // The need drawn from where the room begins: the free part, plus the replaced song.
        const int roomStart = bar.left() + songs + rhythms - widthOf(m_room - m_memory->free);
        const int needWidth = std::min(widthOf(*m_need), bar.right() - roomStart + 1);
        QColor mark = fits() ? QColor(60, 170, 80) : QColor(210, 50, 50);
        mark.setAlpha(150);
        painter.fillRect(QRect(roomStart, bar.top(), std::max(1, needWidth), bar.height()), mark);
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(2, bar.bottom() + 3, width() - 4, fontMetrics().height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text(), Qt::ElideRight, width() - 4));
}
