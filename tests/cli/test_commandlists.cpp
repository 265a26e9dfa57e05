// kbxtool's command table against every other place that lists the commands: --help, the man
// page and the bash completion. A command added in one place only fails here, naming the place.
// The exit statuses too, in --help.
#include "cli/cliargs.h"
#include "cli/commands.h"
#include "cli/kbxtool.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <gtest/gtest.h>

using namespace kbxcli;

namespace {

using Words = QSet<QString>;

QString readText(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

Words tableCommands() {
    Words words;
    for (const Command& command : commands())
        words << QString::fromLatin1(command.name);
    return words;
}

// The first word of each line of the commands section: "  import SLOT [DIR]   import one ...".
Words helpCommands() {
    Words words;
    const QStringList lines = helpText().split(u'\n');
    for (qsizetype i = 2; i < lines.size() && !lines[i].isEmpty(); ++i)
        if (lines[i].startsWith(QLatin1String("  ")) && lines[i][2] != u' ')
            words << lines[i].mid(2).section(u' ', 0, 0);
    return words;
}

// The first word of each tagged paragraph of COMMANDS: ".BI import \" SLOT \"",
// ".BI \"history export\" ...", ".B \"detect \\fR[...\"".
Words manCommands() {
    Words words;
    const QStringList lines = readText(QStringLiteral(KBX_DIST_DIR "/man/kbxtool.1")).split(u'\n');
    const qsizetype start = lines.indexOf(QStringLiteral(".SH COMMANDS"));
    EXPECT_GE(start, 0) << "the man page has no COMMANDS section";
    for (qsizetype i = start + 1; start >= 0 && i + 1 < lines.size(); ++i) {
        if (lines[i].startsWith(QLatin1String(".SH")))
            break;
        if (lines[i] != u".TP")
            continue;
        QString tag = lines[i + 1].section(u' ', 1); // without the font macro
        tag.remove(u'"').replace(QLatin1String("\\-"), QLatin1String("-"));
        words << tag.section(u' ', 0, 0);
    }
    return words;
}

// The words of `local commands="..."`.
Words completionCommands() {
    const QString text = readText(QStringLiteral(KBX_DIST_DIR "/completion/kbxtool"));
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("local commands=\"([^\"]*)\"")).match(text);
    EXPECT_TRUE(match.hasMatch()) << "the completion has no command list";
    const QStringList words = match.captured(1).split(u' ', Qt::SkipEmptyParts);
    return Words(words.begin(), words.end());
}

// Empty when both list the same commands; else what each lacks.
QString difference(const Words& listed) {
    const Words table = tableCommands();
    const auto sorted = [](const Words& words) {
        QStringList list = words.values();
        list.sort();
        return list.join(u' ');
    };
    QString text;
    if (const Words lacks = table - listed; !lacks.isEmpty())
        text += QStringLiteral("lacks: %1. ").arg(sorted(lacks));
    if (const Words extra = listed - table; !extra.isEmpty())
        text += QStringLiteral("lists what the table does not have: %1.").arg(sorted(extra));
    return text;
}

} // namespace

TEST(CommandLists, helpManPageAndCompletionListTheTablesCommands) {
    ASSERT_GE(tableCommands().size(), 15);
    EXPECT_EQ(difference(helpCommands()).toStdString(), "") << "kbxtool --help";
    EXPECT_EQ(difference(manCommands()).toStdString(), "") << "dist/man/kbxtool.1, COMMANDS";
    EXPECT_EQ(difference(completionCommands()).toStdString(), "")
        << "dist/completion/kbxtool, local commands=";
}

TEST(CommandLists, helpNamesEveryExitStatus) {
    const QString help = helpText();
    const QString statuses = help.mid(help.indexOf(QLatin1String("Exit status:")));
    for (const int status : {ExitOk, ExitFailed, ExitUsage, ExitInterrupted})
        EXPECT_TRUE(statuses.contains(QRegularExpression(QStringLiteral("\\b%1 ").arg(status))))
            << status;
}
