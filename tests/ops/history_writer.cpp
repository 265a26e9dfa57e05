// Writes history entries as fast as it can, as a kbxtool would while it changes the keyboard:
// the item's file, then the pending row, then the row settled. The tests kill it at random
// moments and run two of it at once.
//
//   history_writer FOLDER COUNT SEED     COUNT 0: until killed
#include "ops/history.h"
#include "zxdata.h"

#include <QCoreApplication>
#include <cstdio>
#include <random>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fputs("usage: history_writer FOLDER COUNT SEED\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const long count = std::atol(argv[2]);
    std::mt19937 random(static_cast<std::mt19937::result_type>(std::atol(argv[3])));
    try {
        kbxops::History history(folder);
        for (long n = 0; count == 0 || n < count; ++n) {
            // A song of a few hundred bytes; a small choice of contents, so that some are stored
            // once for several rows.
            ZxDataFile item(ZxKind::Song);
            const std::uint32_t size = 200 + 2 * (random() % 200);
            const std::uint16_t fill = static_cast<std::uint16_t>(random() % 16);
            item.payload().assign(size / 2, fill);
            item.setSize(size);
            item.setItemName("Take " + std::to_string(fill));

            kbxops::HistoryEntry entry;
            entry.operation = kbxops::Operation::Send;
            entry.slot = QStringLiteral("song:%1").arg(n % 2);
            entry.kind = ZxKind::Song;
            entry.before = history.keep(item);
            entry.after = kbxops::History::describe(item);
            entry.inputDevice = QStringLiteral("writer in");
            entry.outputDevice = QStringLiteral("writer out");
            const qint64 id = history.begin(entry);
            if (random() % 4 == 0)
                history.discard(id);
            else
                history.finish(id);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "history_writer: %s\n", e.what());
        return 1;
    }
    return 0;
}
