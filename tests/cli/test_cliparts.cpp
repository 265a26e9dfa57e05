// kbxtool's parts without a keyboard: slot names, file names, device choice, the command line.
#include "cli/cliargs.h"
#include "cli/clitext.h"
#include "cli/deviceselect.h"
#include "drive/zxkbddrv.h"
#include "ops/keyboard.h"
#include "ops/slotref.h"
#include "protocol/zxexception.h"

#include <gtest/gtest.h>

using namespace kbxcli;
using namespace kbxops;

namespace {

ParsedArguments parse(const QStringList& args) {
    return parseArguments(args);
}

} // namespace

// ---- short forms and paths ------------------------------------------------------------------

TEST(SlotShortForm, parsesEveryKindIgnoringCase) {
    const auto tone = parseShortForm(QStringLiteral("TONE:3"));
    ASSERT_EQ(tone.status, ShortFormParse::Valid);
    EXPECT_EQ(tone.address, (SlotAddress{ZxKind::Tone, 3, 0}));
    EXPECT_EQ(parseShortForm(QStringLiteral("dsp:9")).address, (SlotAddress{ZxKind::Dsp, 9, 0}));
    EXPECT_EQ(parseShortForm(QStringLiteral("song:1")).address, (SlotAddress{ZxKind::Song, 1, 0}));
    EXPECT_EQ(parseShortForm(QStringLiteral("Rhythm:0")).address,
              (SlotAddress{ZxKind::Rhythm, 0, 0}));
    const auto reg = parseShortForm(QStringLiteral("reg:2:1"));
    ASSERT_EQ(reg.status, ShortFormParse::Valid);
    EXPECT_EQ(reg.address, (SlotAddress{ZxKind::Registration, 1, 2}));
}

TEST(SlotShortForm, refusesBrokenShortFormsButLeavesPathsAlone) {
    EXPECT_EQ(parseShortForm(QStringLiteral("tone:x")).status, ShortFormParse::Invalid);
    EXPECT_EQ(parseShortForm(QStringLiteral("reg:1")).status, ShortFormParse::Invalid);
    EXPECT_EQ(parseShortForm(QStringLiteral("song:")).status, ShortFormParse::Invalid);
    EXPECT_EQ(parseShortForm(QStringLiteral("Tone:\\User 3")).status, ShortFormParse::NotShortForm);
    EXPECT_EQ(parseShortForm(QStringLiteral("Tone:/User 3")).status, ShortFormParse::NotShortForm);
    EXPECT_EQ(parseShortForm(QStringLiteral("Song Rhythm:\\Song\\Song 1")).status,
              ShortFormParse::NotShortForm);
}

TEST(SlotShortForm, formsTheShortFormOfEveryKind) {
    EXPECT_EQ(shortForm({ZxKind::Tone, 3, 0}), QStringLiteral("tone:3"));
    EXPECT_EQ(shortForm({ZxKind::Dsp, 0, 0}), QStringLiteral("dsp:0"));
    EXPECT_EQ(shortForm({ZxKind::Registration, 1, 2}), QStringLiteral("reg:2:1"));
    EXPECT_EQ(shortForm({ZxKind::Song, 0, 0}), QStringLiteral("song:0"));
    EXPECT_EQ(shortForm({ZxKind::Rhythm, 1, 0}), QStringLiteral("rhythm:1"));
}

TEST(SlotLookup, walksTheLayoutInDriveOrderWithPaths) {
    ZxKbdDrv drive(ZxKbdDrv::kKnownModel);
    const std::vector<SlotEntry> slotList = slotsOf(drive.root());
    ASSERT_EQ(slotList.size(), 42u);
    EXPECT_EQ(slotList.front().path, "Tone:\\User 0");
    EXPECT_EQ(slotList[20].path, "Registration:\\Bank0\\User 0");
    EXPECT_EQ(slotList[20].folderPath, "Registration:\\Bank0");
    EXPECT_EQ(slotList[36].path, "Song Rhythm:\\Song\\Song 0");
    EXPECT_EQ(slotList.back().path, "Song Rhythm:\\Rhythm\\User 3");

    const std::vector<FolderEntry> folders = foldersOf(drive.root());
    ASSERT_EQ(folders.size(), 10u);
    EXPECT_EQ(folders[0].path, "Tone:");
    EXPECT_EQ(folders[3].path, "Registration:\\Bank0");
    EXPECT_EQ(folders[9].path, "Song Rhythm:\\Rhythm");
}

TEST(SlotLookup, findsPathsExactlyThenIgnoringCaseAndWithSlashes) {
    ZxKbdDrv drive(ZxKbdDrv::kKnownModel);
    const std::vector<SlotEntry> slotList = slotsOf(drive.root());
    const SlotEntry* exact = findSlot(slotList, QStringLiteral("Registration:\\Bank2\\User 1"));
    ASSERT_NE(exact, nullptr);
    EXPECT_EQ(addressOf(*exact->node), (SlotAddress{ZxKind::Registration, 1, 2}));
    EXPECT_EQ(findSlot(slotList, QStringLiteral("registration:\\bank2\\user 1")), exact);
    EXPECT_EQ(findSlot(slotList, QStringLiteral("Registration:/Bank2/User 1")), exact);
    EXPECT_EQ(findSlot(slotList, QStringLiteral("Registration:\\Bank2\\User 9")), nullptr);
    EXPECT_EQ(findSlot(slotList, QStringLiteral("tone:10")), nullptr);
}

TEST(SlotLookup, shortFormReachesItsOwnSlotWhenNamesRepeat) {
    ZxKbdDrv drive(ZxKbdDrv::kKnownModel);
    std::vector<SlotEntry> slotList = slotsOf(drive.root());
    for (int i = 0; i < 10; ++i)
        slotList[static_cast<std::size_t>(i)].node->setName("        ");
    slotList = slotsOf(drive.root());
    const SlotEntry* five = findSlot(slotList, QStringLiteral("tone:5"));
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(five->node->number(), 5);
    // A path that several slotList share ignoring case names none of them.
    slotList[1].node->setName("Piano");
    slotList[2].node->setName("PIANO");
    slotList = slotsOf(drive.root());
    EXPECT_EQ(findSlot(slotList, QStringLiteral("tone:\\piano")), nullptr);
    EXPECT_EQ(findSlot(slotList, QStringLiteral("Tone:\\PIANO")), &slotList[2]);
}

TEST(SlotLookup, namesMatchWithOrWithoutTheirPaddingBlanks) {
    ZxKbdDrv drive(ZxKbdDrv::kKnownModel);
    std::vector<SlotEntry> slotList = slotsOf(drive.root());
    slotList[3].node->setName("Minuet  ");
    slotList[4].node->setName("Min     ");
    slotList = slotsOf(drive.root());
    EXPECT_EQ(findSlot(slotList, QStringLiteral("Tone:\\Minuet")), &slotList[3]);
    EXPECT_EQ(findSlot(slotList, QStringLiteral("tone:/minuet ")), &slotList[3]);
    EXPECT_EQ(findSlot(slotList, QStringLiteral("Tone:\\Minuet  ")), &slotList[3]);
    EXPECT_EQ(findSlot(slotList, QStringLiteral("Tone:\\Min")), &slotList[4]);
    // Blank names all pad to nothing: none of them is named by "Tone:\".
    slotList[5].node->setName("        ");
    slotList[6].node->setName("        ");
    slotList = slotsOf(drive.root());
    EXPECT_EQ(findSlot(slotList, QStringLiteral("Tone:\\")), nullptr);
}

// ---- texts --------------------------------------------------------------------------------

TEST(KindNames, nameEveryDataKindAndNothingElse) {
    EXPECT_EQ(kindName(ZxKind::Tone), QStringLiteral("tone"));
    EXPECT_EQ(kindName(ZxKind::Dsp), QStringLiteral("dsp"));
    EXPECT_EQ(kindName(ZxKind::Song), QStringLiteral("song"));
    EXPECT_EQ(kindName(ZxKind::Rhythm), QStringLiteral("rhythm"));
    EXPECT_EQ(kindName(ZxKind::Registration), QStringLiteral("registration"));
    EXPECT_EQ(kindName(ZxKind::DriveRoot), QStringLiteral("unknown"));
    EXPECT_EQ(kindTitle(0x0000), QStringLiteral("unknown kind 0x0000"));
}

// ---- devices --------------------------------------------------------------------------------

TEST(DeviceMatch, takesANumberInRange) {
    const std::vector<std::string> names{"Midi Through", "Virtual ZR-7316"};
    EXPECT_EQ(matchDevice(QStringLiteral("1"), names).number, 1);
    const DeviceMatch out = matchDevice(QStringLiteral("2"), names);
    EXPECT_EQ(out.number, -1);
    EXPECT_TRUE(out.error.contains(QStringLiteral("number 2")));
    // Digits beyond the numbers may still be part of one name.
    EXPECT_EQ(matchDevice(QStringLiteral("7316"), names).number, 1);
}

TEST(DeviceMatch, findsAPartOfANameIgnoringCase) {
    const std::vector<std::string> names{"Midi Through", "Virtual ZR-7316 Port 2",
                                         "Virtual ZR-7316"};
    EXPECT_EQ(matchDevice(QStringLiteral("through"), names).number, 0);
    EXPECT_EQ(matchDevice(QStringLiteral("port 2"), names).number, 1);
    // A whole name wins over names that merely contain it.
    EXPECT_EQ(matchDevice(QStringLiteral("virtual zr-7316"), names).number, 2);
}

TEST(DeviceMatch, refusesAmbiguousAndUnknownNamesWithTheCandidates) {
    const std::vector<std::string> names{"ZR-7316 Virtual:in", "Virtual ZR-7316"};
    const DeviceMatch ambiguous = matchDevice(QStringLiteral("zr-7316"), names);
    EXPECT_EQ(ambiguous.number, -1);
    EXPECT_TRUE(ambiguous.error.contains(QStringLiteral("ZR-7316 Virtual:in")));
    EXPECT_TRUE(ambiguous.error.contains(QStringLiteral("Virtual ZR-7316")));
    EXPECT_EQ(matchDevice(QStringLiteral("nothing"), names).number, -1);
    EXPECT_EQ(matchDevice(QString(), names).number, -1);
}

// ---- the command line -----------------------------------------------------------------------

TEST(Arguments, takesGlobalOptionsBeforeAndAfterTheCommand) {
    const ParsedArguments p =
        parse({QStringLiteral("--in"), QStringLiteral("2"), QStringLiteral("--trace"),
               QStringLiteral("import"), QStringLiteral("tone:3"), QStringLiteral("--json"),
               QStringLiteral("--out=Virt"), QStringLiteral("dir")});
    ASSERT_TRUE(p.error.isEmpty()) << p.error.toStdString();
    EXPECT_TRUE(p.options.json);
    EXPECT_TRUE(p.options.trace);
    EXPECT_EQ(p.options.in, QStringLiteral("2"));
    EXPECT_EQ(p.options.out, QStringLiteral("Virt"));
    EXPECT_EQ(p.options.command, QStringLiteral("import"));
    EXPECT_EQ(p.options.args, (QStringList{QStringLiteral("tone:3"), QStringLiteral("dir")}));
}

TEST(Arguments, virtualTakesItsFileOnlyAfterAnEqualsSign) {
    const ParsedArguments bare = parse({QStringLiteral("--virtual"), QStringLiteral("list")});
    ASSERT_TRUE(bare.error.isEmpty());
    EXPECT_TRUE(bare.options.useVirtual);
    EXPECT_TRUE(bare.options.stateFile.isEmpty());
    EXPECT_EQ(bare.options.command, QStringLiteral("list"));
    const ParsedArguments file =
        parse({QStringLiteral("--virtual=/tmp/s"), QStringLiteral("list")});
    EXPECT_EQ(file.options.stateFile, QStringLiteral("/tmp/s"));
    EXPECT_FALSE(parse({QStringLiteral("--virtual"), QStringLiteral("--in"), QStringLiteral("0"),
                        QStringLiteral("list")})
                     .error.isEmpty());
}

TEST(Arguments, emulateHasItsOwnOptions) {
    const ParsedArguments p = parse({QStringLiteral("emulate"), QStringLiteral("--name"),
                                     QStringLiteral("My Kbd"), QStringLiteral("--state=/tmp/st")});
    ASSERT_TRUE(p.error.isEmpty());
    EXPECT_EQ(p.options.name, QStringLiteral("My Kbd"));
    EXPECT_EQ(p.options.state, QStringLiteral("/tmp/st"));
    EXPECT_FALSE(parse({QStringLiteral("list"), QStringLiteral("--name"), QStringLiteral("x")})
                     .error.isEmpty());
}

TEST(Arguments, detectAndPingHaveTheirOwnOptions) {
    const ParsedArguments detect = parse({QStringLiteral("detect"), QStringLiteral("--save")});
    ASSERT_TRUE(detect.error.isEmpty());
    EXPECT_TRUE(detect.options.save);
    const ParsedArguments ping = parse({QStringLiteral("ping"), QStringLiteral("--count=25")});
    ASSERT_TRUE(ping.error.isEmpty());
    EXPECT_EQ(ping.options.count, 25);
    EXPECT_EQ(parse({QStringLiteral("ping")}).options.count, 10);
    for (const QStringList& wrong :
         {QStringList{"ping", "--count", "0"}, QStringList{"ping", "--count", "1001"},
          QStringList{"ping", "--count"}, QStringList{"list", "--count", "3"},
          QStringList{"ping", "--save"}, QStringList{"detect", "--out", "1"}})
        EXPECT_FALSE(parse(wrong).error.isEmpty()) << wrong.join(u' ').toStdString();
}

TEST(Arguments, reportsUsageErrors) {
    EXPECT_FALSE(parse({}).error.isEmpty());
    EXPECT_FALSE(parse({QStringLiteral("frobnicate")}).error.isEmpty());
    EXPECT_FALSE(parse({QStringLiteral("send"), QStringLiteral("f.kbx")}).error.isEmpty());
    EXPECT_FALSE(parse({QStringLiteral("list"), QStringLiteral("extra")}).error.isEmpty());
    EXPECT_FALSE(parse({QStringLiteral("--bogus"), QStringLiteral("list")}).error.isEmpty());
    EXPECT_FALSE(parse({QStringLiteral("list"), QStringLiteral("--in")}).error.isEmpty());
    EXPECT_TRUE(parse({QStringLiteral("--help")}).options.help);
}

TEST(Arguments, doubleDashEndsTheOptions) {
    const ParsedArguments p = parse({QStringLiteral("rename"), QStringLiteral("--"),
                                     QStringLiteral("-odd.kbx"), QStringLiteral("--json")});
    ASSERT_TRUE(p.error.isEmpty());
    EXPECT_FALSE(p.options.json);
    EXPECT_EQ(p.options.args, (QStringList{QStringLiteral("-odd.kbx"), QStringLiteral("--json")}));
}

TEST(Arguments, historyCommandsAndTheSafetyOptions) {
    const ParsedArguments p = parse({QStringLiteral("--no-history"), QStringLiteral("--verify"),
                                     QStringLiteral("history"), QStringLiteral("export"),
                                     QStringLiteral("12"), QStringLiteral("out")});
    ASSERT_TRUE(p.error.isEmpty()) << p.error.toStdString();
    EXPECT_TRUE(p.options.noHistory);
    EXPECT_TRUE(p.options.verify);
    EXPECT_EQ(p.options.command, QStringLiteral("history"));
    EXPECT_EQ(p.options.args, (QStringList{"export", "12", "out"}));
    EXPECT_TRUE(parse({QStringLiteral("history")}).error.isEmpty());
    EXPECT_TRUE(parse({QStringLiteral("undo")}).error.isEmpty());
    EXPECT_TRUE(parse({QStringLiteral("history"), QStringLiteral("restore"), QStringLiteral("3")})
                    .error.isEmpty());
    for (const QStringList& bad :
         {QStringList{"history", "restore"}, QStringList{"history", "restore", "3", "x"},
          QStringList{"history", "export", "3"}, QStringList{"history", "export", "-1", "d"},
          QStringList{"history", "show"}, QStringList{"undo", "1"}})
        EXPECT_FALSE(parse(bad).error.isEmpty()) << bad.join(u' ').toStdString();
}

// ---- the exit status of a failure -----------------------------------------------------------

TEST(ExitStatus, aStopIsToldByItsTypeAlsoUnderANote) {
    const auto noted = [](std::exception_ptr original) {
        return std::make_exception_ptr(
            NotedException(std::move(original), QStringLiteral("note"), QStringLiteral("note")));
    };
    const auto stop =
        std::make_exception_ptr(ZxCancelledException(ZxCancelledException::Cancelled));
    const auto timeout = std::make_exception_ptr(ZxSysExException(ZxSysExException::Timeout));
    EXPECT_TRUE(kbxops::isCancel(stop));
    EXPECT_TRUE(kbxops::isCancel(noted(stop)));
    EXPECT_FALSE(kbxops::isCancel(timeout));
    EXPECT_FALSE(kbxops::isCancel(noted(timeout)));
    EXPECT_FALSE(kbxops::isCancel(std::make_exception_ptr(std::runtime_error("Cancelled."))));
    EXPECT_FALSE(kbxops::isCancel(nullptr));
}
