// Standard MIDI File export and import: bytes written, songs read back, files refused.
#include "formats/smf_export.h"
#include "formats/smf_import.h"
#include "musicmaker/songops.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <unistd.h>

namespace kivra {
namespace {

using Bytes = std::vector<std::uint8_t>;

SongStep Notes(std::vector<std::uint8_t> n, std::vector<std::uint8_t> velocities = {}) {
    SongStep s{StepNotes, static_cast<std::uint8_t>(n.size()), std::move(n)};
    std::ranges::copy(velocities, s.Notes.Velocities());
    return s;
}
const SongStep kBreak{StepBreak, 0, {}}, kEmpty{};
SongData OneTrack(std::vector<SongStep> steps, std::uint8_t channel = 0, int notesPerBeat = 4) {
    return {.Tracks = {{channel, steps}}, .NumSteps = static_cast<int>(steps.size()), .NotesPerBeat = notesPerBeat};
}

QByteArray Q(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), std::ssize(b)); }
std::string Hex(const Bytes& b) { return Q(b).toHex(' ').toUpper().toStdString(); }
Bytes FromHex(const std::string& hex) {
    const QByteArray b = QByteArray::fromHex(QByteArray::fromStdString(hex));
    return Bytes(b.begin(), b.end());
}
Bytes Encode(const SongData& song, std::vector<int> lastStep = {}) { return EncodeMIDIFile(SourceOf(song), lastStep); }
// A file of the given track chunks, each given as hex; count overrides the header's track count.
Bytes File(int format, int division, std::vector<std::string> tracks, int count = -1) {
    Bytes b = FromHex("4D546864 00000006 00");
    const int n = count < 0 ? static_cast<int>(tracks.size()) : count;
    for (int v : {format, n >> 8, n, division >> 8, division}) b.push_back(static_cast<std::uint8_t>(v));
    for (const std::string& hex : tracks) {
        const Bytes t = FromHex(hex), head = FromHex("4D54726B");
        b.insert(b.end(), head.begin(), head.end());
        for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(t.size() >> shift));
        b.insert(b.end(), t.begin(), t.end());
    }
    return b;
}
Bytes ReadAll(const QString& path) {
    const QByteArray b = test::ReadFile(path);
    return Bytes(b.begin(), b.end());
}
// One row per step as the track list shows it: "60 64 ", "-" or " ".
std::string Rows(const SongTrack& track) {
    std::string out;
    for (const SongStep& s : track.Steps) {
        for (auto i = 0u; s.StepType == StepNotes && i < s.NoteCount; ++i) out += std::to_string(s.Notes[i]) + ' ';
        out += s.StepType == StepBreak ? "-|" : s.StepType == StepEmpty ? " |" : "|";
    }
    return out;
}
// A song on one line: "4/120 x2; c0 60 64 | |; p3=5" is 4 steps per beat, 120 BPM, 2 steps, then
// each track's channel and rows, then the instruments the file sets.
std::string Text(const SongData& s) {
    using std::to_string;
    std::string out = to_string(s.NotesPerBeat) + "/" + to_string(s.Tempo) + " x" + to_string(s.NumSteps);
    for (const SongTrack& t : s.Tracks) out += "; c" + std::to_string(t.Channel) + " " + Rows(t);
    for (std::size_t c = 0; c < 16; ++c)
        if (s.PatchSet & (1 << c)) out += "; p" + std::to_string(c) + "=" + std::to_string(s.ChannelPatch[c]);
    return out;
}
std::string ParsedText(const Bytes& file) {
    const ImportResult r = ParseMIDIFile(file);
    return r.Accepted() ? Text(*r.song) : "refused: " + r.Describe().toStdString();
}

// Tests on the program's song, which ApplySong replaces whole (last steps 0).
class SongGlobals : public ::testing::Test {
protected:
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

TEST(SmfExport, SongsBecomeTheseBytes) {
    SongData none{.Tracks = {}, .NotesPerBeat = 6}, empties = OneTrack({kEmpty, kEmpty, kEmpty}, 5);
    SongData tempo = OneTrack({Notes({60})});
    empties.ChannelPatch[5] = 33;
    tempo.Tracks.push_back(tempo.Tracks[0]);
    tempo.Tempo = 90;  // 666,667 us per quarter note = 0A 2C 2B
    const struct {
        const char* what;
        SongData song;
        std::vector<int> lastStep;
        std::ptrdiff_t from;  // the bytes compared start here: 14 is the first track, 25 its first note event
        const char* hex;
    } cases[] = {
        {"the worked example", OneTrack({Notes({60, 64}), kEmpty, kBreak}), {0}, 0,
         "4D 54 68 64 00 00 00 06 00 01 00 01 00 04 4D 54 72 6B 00 00 00 27 00 C0 00 01 90 3C 00 00 90 40 00 "
         "00 90 3C 64 00 90 40 64 02 90 3C 00 00 90 40 00 01 90 3C 00 00 90 40 00 00 FF 2F 00"},
        {"no tracks", none, {}, 0, "4D 54 68 64 00 00 00 06 00 01 00 00 00 06"},
        {"empty steps only: program change and End of Track", empties, {0}, 14,
         "4D 54 72 6B 00 00 00 07 00 C5 21 00 FF 2F 00"},
        // Which notes start and end where is the note spans' table (musicmaker core suite); here, their ticks.
        {"rests before the first note", OneTrack({kEmpty, kEmpty, Notes({62})}), {0}, 25,
         "03 90 3E 64 01 90 3E 00 00 FF 2F 00"},
        {"each note at its velocity", OneTrack({Notes({60, 64}, {1, 127})}), {-1}, 25,
         "01 90 3C 01 00 90 40 7F 01 90 3C 00 00 90 40 00 00 FF 2F 00"},
        {"a tempo other than 120 starts the first track only", tempo, {}, 14,
         "4D 54 72 6B 00 00 00 1A 00 FF 51 03 0A 2C 2B 00 C0 00 01 90 3C 00 00 90 3C 64 01 90 3C 00 00 FF 2F 00 "
         "4D 54 72 6B 00 00 00 13 00 C0 00 01 90 3C 00 00 90 3C 64 01 90 3C 00 00 FF 2F 00"},
    };
    for (const auto& c : cases) {
        const Bytes file = Encode(c.song, c.lastStep);
        EXPECT_EQ(Hex(Bytes(file.begin() + c.from, file.end())), c.hex) << c.what;
    }
}

// Failures of a device and of a folder that takes no new file: see the song file menu and file stream suites.
TEST_F(SongGlobals, ExportWritesTheFileWholeOrNotAtAll) {
    ApplySong(OneTrack({Notes({60, 64}), kEmpty, kBreak}));
    SetLastSteps({7});  // beyond the song: names no notes
    test::WriteFile(Path("plain"), "x");
    test::WriteFile(Path("song.mid"), "precious");
    const std::pair<QString, const char*> failures[] = {{Path("plain") + "/song.mid", "Unable to open output file!"},
                                                        {Path("song.mid"), "was left as it was"}};  // the disk fills up
    for (const auto& [path, words] : failures) {
        const test::FileSizeLimit full(path == Path("song.mid") ? 20 : 1 << 30);
        const ExportResult r = ExportMIDIFile(path);
        EXPECT_TRUE(!r.ok && r.message.contains(words)) << r.message.toStdString();
        EXPECT_EQ(test::ReadFile(Path("song.mid")), "precious");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"plain", "song.mid"}));
        EXPECT_EQ(g_lLastStep, std::vector<int>{7});
    }
    // With room, the same export replaces the file, keeps its permissions and moves the last step.
    QFile::setPermissions(Path("song.mid"), QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(ExportMIDIFile(Path("song.mid")).ok);
    EXPECT_EQ(Hex(ReadAll(Path("song.mid"))).substr(25 * 3, 24), "01 90 3C 64 00 90 40 64 ");
    EXPECT_EQ(QFile::permissions(Path("song.mid")) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    EXPECT_EQ(g_lLastStep, std::vector<int>{0});
    // A second export starts from the last step the first one left: it begins with its release.
    ASSERT_TRUE(ExportMIDIFile(Path("b.mid")).ok);
    EXPECT_EQ(Hex(ReadAll(Path("b.mid"))).substr(25 * 3, 24), "01 90 3C 00 00 90 40 00 ");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"b.mid", "plain", "song.mid"}));
}

TEST(SmfImport, FilesBecomeSongsOnTheGridThatPlacesMostOnsetsExactly) {
    std::string many;  // 300 Note Ons on one tick: the first 255 are kept, with their velocities
    for (int n = 0; n < 300; ++n)
        many += "00 90" + Hex({static_cast<std::uint8_t>(n % 128), static_cast<std::uint8_t>(n % 100 + 1)});
    Bytes cut = File(1, 4, {"01903C64 00FF2F00", "01904064 01904364"}, 3);
    cut[cut.size() - 9] = 0x7F;  // the second chunk's length, 0x7F000008, runs past the end of the file
    const struct {
        const char* what;
        Bytes file;
        std::string song;  // as Text shows it, or "" where the timing says enough
        const char* moved = "";
    } cases[] = {
        {"two Note Ons on tick 1 make one chord step; tick 3 lands in step 2",
         File(0, 4, {"01903C64 00904064 02904364 00FF2F00"}), "4/120 x3; c0 60 64 | |67 |"},
        // Events that start nothing still count their ticks: the Note Off on tick 13 ends the song.
        {"tracks start together; the song is as long as the longer; a meta event is read past whole",
         File(1, 2, {"00FF0305 6E616D6521 01903C64 00FF2F00", "01B00740 02904064 0A803C00 00FF2F00"}),
         "2/120 x12; c0 60 | | | | | | | | | | | |; c0  | |64 | | | | | | | | | |"},
        {"running status across a meta event; releases where nothing starts are breaks",
         File(0, 4, {"01913C64 01 4064 00FF0100 01 4000 01 4300 01 4364 02 4300 00FF2F00"}),
         "4/120 x6; c1 60 |64 |-|-|67 | |"},
        {"division 480 on eighths and tick 0: 2 per beat; the last Note Off ends the song",
         File(0, 480, {"00903C64 00904064 8170 903E64 8170 803E00 8170 904364 8360 804300 00FF2F00"}),
         "2/120 x5; c0 60 64 |62 |-|67 | |"},
        {"a note on tick 0 makes tick t step t", File(0, 4, {"00903C64 01904064 00FF2F00"}), "4/120 x2; c0 60 |64 |"},
        {"sixteenths, triplets and even ticks fit 240 per beat; an odd tick moves by a tick",
         File(0, 480, {"00903C64 02903E64 76904064 28904164 8121904364 00FF2F00"}), "",
         "1 of 5 notes moved to fit 240 steps per beat, by at most 0.5 step."},
        {"ticks 0, 2 and 4 of 960: 240 places two exactly", File(0, 960, {"00903C64 02903E64 02904064 00FF2F00"}),
         "240/120 x2; c0 60 |62 64 |", "1 of 3 notes moved to fit 240 steps per beat, by at most 0.5 step."},
        {"none but tick 0 exact: the grid that moves the others least",
         File(0, 960, {"00903C64 01903E64 01904064 00FF2F00"}), "255/120 x2; c0 60 |62 64 |",
         "2 of 3 notes moved to fit 255 steps per beat, by at most 0.73 step."},
        {"onsets 1 tick after each beat (abc2midi's habit) stay on their beats",
         File(0, 960, {"01903C64 8740 903E64 00FF2F00"}), "1/120 x2; c0 60 |62 |",
         "2 of 2 notes moved to fit 1 step per beat, by at most 0.001 step."},
        // The first Set Tempo and each channel's first program change count; a track without notes
        // takes its program change's channel.
        {"channels, instruments and tempo", File(1, 8, {"00FF5103 07A120 00FF5103 0F4240 00FF2F00",
                                                        "00C305 00C307 00B30700 01933C64 00FF2F00", "00CA10 00FF2F00"}),
         "8/120 x1; c0  |; c3 60 |; c10  |; p3=5; p10=16"},
        {"the slowest tempo", File(0, 4, {"00FF5103 FFFFFF 00FF2F00"}), "4/30 x0; c0 "},
        {"the fastest tempo", File(0, 4, {"00FF5103 000001 00FF2F00"}), "4/240 x0; c0 "},
        {"a chunk longer than the file ends with it; missing tracks are empty", cut,
         "4/120 x2; c0 60 | |; c0 64 |67 |; c0  | |"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ImportResult r = ParseMIDIFile(c.file);
        ASSERT_TRUE(r.Accepted()) << r.Describe().toStdString();
        if (!c.song.empty()) {
            EXPECT_EQ(Text(*r.song), c.song);
        }
        EXPECT_EQ(r.timing.Describe(r.song->NotesPerBeat).toStdString(), c.moved);
    }
    const SongStep chord = ParseMIDIFile(File(0, 4, {many})).song->Tracks[0].Steps[0];
    const std::vector<int> notes(chord.Notes.begin(), chord.Notes.end()),
        velocities(chord.Notes.Velocities(), chord.Notes.Velocities() + chord.Notes.size());
    EXPECT_EQ(std::vector<int>({chord.NoteCount, static_cast<int>(notes.size()), notes.back(), velocities.back()}),
              std::vector<int>({255, 255, 254 % 128, 55}));
}

TEST(SmfImport, RefusedFilesSayWhyAndWhere) {
    const std::tuple<Bytes, const char*, long long> cases[] = {
        {FromHex("52494646"), "not a Standard MIDI File", 0},
        {FromHex("4D546864 00000007 0001 0001 0004 00"), "7 bytes long", 4},
        {File(2, 4, {"00FF2F00"}), "format 2", 8},
        {File(1, 0xE728, {"00FF2F00"}), "time-code", 12},
        {File(1, 4, {}), "no tracks", 10},
        {File(1, 4, {}, 33), "33 tracks", 10},
        {File(0, 4, {"00903C64 8080808001 903C00"}), "variable-length", 26},
        {File(0, 1, {"00903C64 FFFFFF7F 903C00"}), "steps long", 26},
        {FromHex("4D546864 0000"), "ends inside its header", 6},
    };
    for (const auto& [file, words, offset] : cases) {
        const ImportResult r = ParseMIDIFile(file);
        EXPECT_FALSE(r.Accepted()) << words;
        EXPECT_TRUE(r.reason.contains(words)) << r.reason.toStdString();
        EXPECT_EQ(r.offset, offset) << words;
    }
}

// The header is read first and the size checked before the rest is read.
TEST_F(SongGlobals, LargeFilesAreRefusedBeforeTheyAreRead) {
    const QByteArray header = QByteArray::fromHex("4D546864 00000006 0000 0001 0004");
    const std::tuple<QByteArray, long long, const char*> cases[] = {
        {"", 2LL << 30, "not a Standard MIDI File"}, {header, 300LL << 20, "300 MiB long"},
        {header, (4LL << 30) + 100, "4096 MiB long; songs larger than 256 MiB are not opened"},
    };
    for (const auto& [start, size, words] : cases) {
        test::WriteFile(Path("big.mid"), start);
        ASSERT_TRUE(QFile::resize(Path("big.mid"), size));  // sparse: no disk space used
        const ImportResult r = ReadMIDIFile(Path("big.mid"));
        EXPECT_TRUE(r.reason.contains(words)) << r.Describe().toStdString();
    }
}

TEST_F(SongGlobals, RunningOutOfMemoryIsARefusal) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit leaves";
#endif
    // 8 tracks of 2^21 steps: 512 MiB of steps, where the limit leaves 128 MiB.
    test::WriteFile(Path("long.mid"), Q(File(1, 4, std::vector<std::string>(8, "81808000903C64 00FF2F00"))));
    const QByteArray pages = test::ReadFile(QStringLiteral("/proc/self/statm")).split(' ').value(0);  // mapped
    const rlim_t used = pages.toULongLong() * static_cast<rlim_t>(::getpagesize());
    rlimit old{};
    getrlimit(RLIMIT_AS, &old);
    const rlimit tight{used + (128u << 20), old.rlim_max};
    setrlimit(RLIMIT_AS, &tight);
    const ImportResult r = ReadMIDIFile(Path("long.mid"));
    setrlimit(RLIMIT_AS, &old);
    EXPECT_EQ(r.reason, "there is not enough memory to open it");
}

std::vector<QString> FilesUnder(const char* folder) {
    std::vector<QString> files;
    QDirIterator it(KIVRA_TEST_DATA_DIR "/midi/" + QString::fromLatin1(folder), {"*.mid"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) files.push_back(it.next());
    return files;
}

TEST(SmfCorpus, EveryFileOpensOrIsRefusedWithAReasonAndOtherProgramsFilesAreUsable) {
    const auto valid = FilesUnder("valid"), damaged = FilesUnder("damaged"), invalid = FilesUnder("invalid");
    ASSERT_GE(valid.size(), 4u);
    ASSERT_GE(invalid.size(), 10u);
    for (const QString& path : invalid) EXPECT_FALSE(ReadMIDIFile(path).reason.isEmpty()) << path.toStdString();
    for (const auto* set : {&valid, &damaged})
        for (const QString& path : *set) EXPECT_TRUE(ReadMIDIFile(path).Accepted()) << path.toStdString();
    // Another program's file as a usable song: every onset lies on a beat; the drums keep channel 9.
    EXPECT_EQ(ParsedText(ReadAll(KIVRA_TEST_DATA_DIR "/midi/valid/csvmidi_tempo_map_sysex_480.mid")),
              "1/120 x12; c0  | | | | | | | | | | | |; c2 60 64 |62 |67 |-|72 | | | |-| | | |; "
              "c9 36 |-|38 |-|36 |-|38 |-| | | | |; p2=24; p9=0");
}

}  // namespace
}  // namespace kivra
