// Standard MIDI File export and import: bytes written, songs read back, files refused.
#include "formats/smf_export.h"
#include "formats/smf_import.h"
#include "testsupport.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace kivra {
namespace {

using Bytes = std::vector<std::uint8_t>;

SongStep Notes(std::initializer_list<int> notes) {
    SongStep s{StepNotes, static_cast<std::uint8_t>(notes.size()), {}};
    for (int n : notes) s.Notes.push_back(static_cast<std::uint8_t>(n));
    return s;
}
SongStep Break() { return SongStep{StepBreak, 0, {}}; }
SongStep Empty() { return SongStep{}; }

SongData OneTrack(std::vector<SongStep> steps, std::uint8_t channel = 0, int notesPerBeat = 4) {
    SongData song;
    song.NotesPerBeat = notesPerBeat;
    song.NumSteps = static_cast<int>(steps.size());
    song.Tracks.push_back(SongTrack{channel, std::move(steps)});
    return song;
}

QByteArray Q(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size())); }
std::string Hex(const Bytes& b) { return Q(b).toHex(' ').toUpper().toStdString(); }
Bytes FromHex(const char* hex) {
    const QByteArray b = QByteArray::fromHex(hex);
    return Bytes(b.begin(), b.end());
}
Bytes Encode(const SongData& song, std::vector<int> lastStep = {}) { return EncodeMIDIFile(SourceOf(song), lastStep); }
// The events of the only track after its program change, before End of Track.
std::string TrackEvents(const Bytes& file) { return Hex(Bytes(file.begin() + 25, file.end() - 4)); }

Bytes ReadAll(const QString& path) {
    QFile f(path);
    const QByteArray b = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    return Bytes(b.begin(), b.end());
}
void Put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}
// One row per step as the track list shows it: "60 64 ", "-" or " ".
std::string Rows(const SongTrack& track) {
    std::string out;
    for (const SongStep& s : track.Steps) {
        if (s.StepType == StepBreak) out += "-";
        else if (s.StepType == StepEmpty) out += " ";
        else
            for (int i = 0; i < s.NoteCount; ++i) out += std::to_string(s.Notes[static_cast<std::size_t>(i)]) + " ";
        out += "|";
    }
    return out;
}

// Tests on the program's song, which Load replaces whole (last steps 0).
class SongGlobals : public ::testing::Test {
protected:
    void Load(SongData song) { ApplySong(std::move(song)); }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

// ---------------------------------------------------------------- export

TEST(SmfExport, SongsBecomeTheseBytes) {
    SongData none;
    none.NotesPerBeat = 6;
    SongData empties = OneTrack({Empty(), Empty(), Empty()}, 5);
    empties.ChannelPatch[5] = 33;
    SongData tempo = OneTrack({Notes({60})});
    tempo.Tracks.push_back(tempo.Tracks[0]);
    tempo.Tempo = 90;  // 666,667 us per quarter note = 0A 2C 2B
    const struct {
        const char* what;
        SongData song;
        std::vector<int> lastStep;
        std::size_t from;  // the bytes compared start here: 14 is the first track, 25 its first note event
        const char* hex;
    } cases[] = {
        {"the worked example", OneTrack({Notes({60, 64}), Empty(), Break()}), {0}, 0,
         "4D 54 68 64 00 00 00 06 00 01 00 01 00 04 4D 54 72 6B 00 00 00 27 00 C0 00 01 90 3C 00 00 90 40 00 "
         "00 90 3C 64 00 90 40 64 02 90 3C 00 00 90 40 00 01 90 3C 00 00 90 40 00 00 FF 2F 00"},
        {"no tracks", none, {}, 0, "4D 54 68 64 00 00 00 06 00 01 00 00 00 06"},
        {"empty steps only: program change and End of Track", empties, {0}, 14,
         "4D 54 72 6B 00 00 00 07 00 C5 21 00 FF 2F 00"},
        // A chord is two Note Ons at delta 0 in recorded order; a note held over into the next step
        // is released and started again on the same tick.
        {"chord, then a note held over", OneTrack({Notes({67, 60}), Notes({60})}), {1}, 25,
         "01 90 3C 00 00 90 43 64 00 90 3C 64 01 90 43 00 00 90 3C 00 00 90 3C 64 01 90 3C 00 00 FF 2F 00"},
        {"rests before the first note", OneTrack({Empty(), Empty(), Notes({62})}), {0}, 25,
         "03 90 3E 64 01 90 3E 00 00 FF 2F 00"},
        {"a break with nothing to release keeps its tick", OneTrack({Break(), Empty(), Notes({62}), Break(), Notes({64})}),
         {0}, 25, "03 90 3E 64 01 90 3E 00 01 90 3E 00 00 90 40 64 01 90 40 00 00 FF 2F 00"},
        {"a tempo other than 120 starts the first track only", tempo, {}, 14,
         "4D 54 72 6B 00 00 00 1A 00 FF 51 03 0A 2C 2B 00 C0 00 01 90 3C 00 00 90 3C 64 01 90 3C 00 00 FF 2F 00 "
         "4D 54 72 6B 00 00 00 13 00 C0 00 01 90 3C 00 00 90 3C 64 01 90 3C 00 00 FF 2F 00"},
    };
    for (const auto& c : cases) {
        const Bytes file = Encode(c.song, c.lastStep);
        EXPECT_EQ(Hex(Bytes(file.begin() + static_cast<std::ptrdiff_t>(c.from), file.end())), c.hex) << c.what;
    }
}

TEST_F(SongGlobals, ExportWritesTheFileAndLeavesLastStepsOfTheSong) {
    Load(OneTrack({Notes({60, 64}), Empty(), Break()}));
    g_lLastStep = {7};  // beyond the song: names no notes
    ASSERT_TRUE(ExportMIDIFile(Path("a.mid")).ok);
    EXPECT_EQ(TrackEvents(ReadAll(Path("a.mid"))), "01 90 3C 64 00 90 40 64 02 90 3C 00 00 90 40 00 01 90 3C 00 00 90 40 00");
    EXPECT_EQ(g_lLastStep, std::vector<int>{0});
    // A second export starts from the last step the first one left: it differs in its first release.
    ASSERT_TRUE(ExportMIDIFile(Path("b.mid")).ok);
    EXPECT_EQ(TrackEvents(ReadAll(Path("b.mid"))).substr(0, 24), "01 90 3C 00 00 90 40 00 ");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"a.mid", "b.mid"}));
}

TEST_F(SongGlobals, FailedExportSaysWhatFailedAndKeepsTheOldFile) {
    Load(OneTrack({Notes({60}), Notes({62}), Notes({64})}));
    Put(Path("plain"), "x");
    Put(Path("song.mid"), "precious");
    const std::vector<int> lastBefore = g_lLastStep;
    const struct {
        QString path;
        const char* words;
    } cases[] = {
        {"/dev/full", "could not be written: No space"},  // a device is written in place
        {Path("plain") + "/song.mid", "Unable to open output file!"},
        {Path("song.mid"), "was left as it was"},  // the disk fills up while writing
        {Path("song.mid"), "Unable to open output file!"},  // the folder takes no new file
    };
    for (const auto& c : cases) {
        const test::FileSizeLimit full(&c == &cases[2] ? 20 : 1 << 30);
        std::optional<test::ReadOnlyFolder> readOnly;
        if (&c == &cases[3] && !readOnly.emplace(dir.path()).Made()) continue;
        const ExportResult r = ExportMIDIFile(c.path);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.message.contains(c.words)) << r.message.toStdString();
        EXPECT_EQ(Q(ReadAll(Path("song.mid"))), "precious");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"plain", "song.mid"}));
        EXPECT_EQ(g_lLastStep, lastBefore);
    }
    // With room, the same export replaces the file and keeps its permissions.
    QFile::setPermissions(Path("song.mid"), QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(ExportMIDIFile(Path("song.mid")).ok);
    EXPECT_EQ(ReadAll(Path("song.mid")).size(), 14u + 8 + 3 + 3 * 8 + 4 + 4);
    EXPECT_EQ(QFile::permissions(Path("song.mid")) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
}

// ---------------------------------------------------------------- import

Bytes File(int format, int division, std::vector<Bytes> tracks, int count = -1) {
    Bytes b = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, static_cast<std::uint8_t>(format)};
    const int n = count < 0 ? static_cast<int>(tracks.size()) : count;
    for (int v : {n, division}) {
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        b.push_back(static_cast<std::uint8_t>(v));
    }
    for (const Bytes& t : tracks) {
        for (char c : std::string("MTrk")) b.push_back(static_cast<std::uint8_t>(c));
        for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(t.size() >> shift));
        b.insert(b.end(), t.begin(), t.end());
    }
    return b;
}

SongData Parse(const Bytes& b) {
    ImportResult r = ParseMIDIFile(b);
    EXPECT_TRUE(r.Accepted()) << r.Describe().toStdString();
    return r.song ? std::move(*r.song) : SongData{};
}

TEST(SmfImport, TicksBecomeStepsOnTheGridThatPlacesMostOnsetsExactly) {
    struct Case {
        const char* what;
        int division;
        std::vector<const char*> tracks;
        int notesPerBeat;
        std::vector<std::string> rows;
        const char* moved = "";
    } cases[] = {
        {"two Note Ons on tick 1 make one chord step; tick 3 lands in step 2", 4,
         {"01903C64 00904064 02904364 00FF2F00"}, 4, {"60 64 | |67 |"}},
        // Events that start nothing still count their ticks: the Note Off on tick 13 ends the song.
        {"tracks start together; the song is as long as the longer; a meta event is read past whole", 2,
         {"00FF0305 6E616D6521 01903C64 00FF2F00", "01B00740 02904064 0A803C00 00FF2F00"}, 2,
         {"60 | | | | | | | | | | | |", " | |64 | | | | | | | | | |"}},
        {"running status across a meta event; releases where nothing starts are breaks", 4,
         {"01913C64 01 4064 00FF0100 01 4000 01 4300 01 4364 02 4300 00FF2F00"}, 4, {"60 |64 |-|-|67 | |"}},
        {"division 480 on eighths and tick 0: 2 per beat; the last Note Off ends the song", 480,
         {"00903C64 00904064 8170 903E64 8170 803E00 8170 904364 8360 804300 00FF2F00"}, 2, {"60 64 |62 |-|67 | |"}},
        {"a note on tick 0 makes tick t step t", 4, {"00903C64 01904064 00FF2F00"}, 4, {"60 |64 |"}},
        {"sixteenths, triplets and even ticks fit 240 per beat; an odd tick moves by a tick", 480,
         {"00903C64 02903E64 76904064 28904164 8121904364 00FF2F00"}, 240, {},
         "1 of 5 notes moved to fit 240 steps per beat, by at most 0.5 step."},
        {"ticks 0, 2 and 4 of 960: 240 places two exactly", 960, {"00903C64 02903E64 02904064 00FF2F00"}, 240,
         {"60 |62 64 |"}, "1 of 3 notes moved to fit 240 steps per beat, by at most 0.5 step."},
        {"none but tick 0 exact: the grid that moves the others least", 960, {"00903C64 01903E64 01904064 00FF2F00"},
         255, {"60 |62 64 |"}, "2 of 3 notes moved to fit 255 steps per beat, by at most 0.73 step."},
        {"onsets 1 tick after each beat (abc2midi's habit) stay on their beats", 960, {"01903C64 8740 903E64 00FF2F00"},
         1, {"60 |62 |"}, "2 of 2 notes moved to fit 1 step per beat, by at most 0.001 step."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Bytes> tracks;
        for (const char* t : c.tracks) tracks.push_back(FromHex(t));
        const ImportResult r = ParseMIDIFile(File(tracks.size() > 1 ? 1 : 0, c.division, tracks));
        ASSERT_TRUE(r.Accepted()) << r.Describe().toStdString();
        const SongData& s = *r.song;
        EXPECT_EQ(s.NotesPerBeat, c.notesPerBeat);
        EXPECT_EQ(r.timing.Describe(s.NotesPerBeat).toStdString(), c.moved);
        if (c.rows.empty()) continue;
        EXPECT_EQ(s.NumSteps, std::count(c.rows[0].begin(), c.rows[0].end(), '|'));
        ASSERT_EQ(s.Tracks.size(), c.rows.size());
        for (std::size_t t = 0; t < c.rows.size(); ++t) EXPECT_EQ(Rows(s.Tracks[t]), c.rows[t]);
    }
}

TEST(SmfImport, ChannelsInstrumentsAndTempo) {
    SongData s = Parse(File(1, 8, {FromHex("00FF5103 07A120 00FF5103 0F4240 00FF2F00"),
                                   FromHex("00C305 00C307 00B30700 01933C64 00FF2F00"),
                                   FromHex("00CA10 00FF2F00")}));
    EXPECT_EQ(s.Tempo, 120) << "the first Set Tempo counts";
    EXPECT_EQ(s.Tracks[0].Channel, 0);
    EXPECT_EQ(s.Tracks[1].Channel, 3);
    EXPECT_EQ(s.Tracks[2].Channel, 10) << "a track without notes takes its program change's channel";
    EXPECT_EQ(s.PatchSet, (1 << 3) | (1 << 10));
    EXPECT_EQ(s.ChannelPatch[3], 5) << "the first program change of a channel counts";
    EXPECT_EQ(s.ChannelPatch[10], 16);

    auto tempoOf = [](const char* us) { return Parse(File(0, 4, {FromHex((std::string("00FF5103") + us + "00FF2F00").c_str())})).Tempo; };
    EXPECT_EQ(tempoOf("0A2C2B"), 90);
    EXPECT_EQ(tempoOf("FFFFFF"), 30);
    EXPECT_EQ(tempoOf("000001"), 240);
}

TEST(SmfImport, LimitsHoldWhateverTheFileSays) {
    Bytes many;
    for (int n = 0; n < 300; ++n) {
        const Bytes e = FromHex("00903C64");
        many.insert(many.end(), e.begin(), e.end());
        many[many.size() - 2] = static_cast<std::uint8_t>(n % 128);
    }
    SongData s = Parse(File(0, 4, {many}));
    EXPECT_EQ(s.Tracks[0].Steps[0].NoteCount, 255);
    EXPECT_EQ(s.Tracks[0].Steps[0].Notes.size(), 255u);
    EXPECT_EQ(s.Tracks[0].Steps[0].Notes[254], 254 % 128);

    // A chunk longer than the file ends with it; the tracks before it load; missing tracks are empty.
    Bytes cut = File(1, 4, {FromHex("01903C64 00FF2F00"), FromHex("01904064 01904364")}, 3);
    cut[cut.size() - 9] = 0x7F;  // second chunk's length: 0x7F000008
    s = Parse(cut);
    ASSERT_EQ(s.Tracks.size(), 3u);
    EXPECT_EQ(Rows(s.Tracks[1]), "64 |67 |");
    EXPECT_EQ(Rows(s.Tracks[2]), " | |");
}

TEST(SmfImport, RefusedFilesSayWhyAndWhere) {
    struct Case {
        Bytes file;
        const char* words;
        long long offset;
    } cases[] = {
        {FromHex("52494646"), "not a Standard MIDI File", 0},
        {FromHex("4D546864 00000007 0001 0001 0004 00"), "7 bytes long", 4},
        {File(2, 4, {FromHex("00FF2F00")}), "format 2", 8},
        {File(1, 0xE728, {FromHex("00FF2F00")}), "time-code", 12},
        {File(1, 4, {}), "no tracks", 10},
        {File(1, 4, {}, 33), "33 tracks", 10},
        {File(0, 4, {FromHex("00903C64 8080808001 903C00")}), "variable-length", 26},
        {File(0, 1, {FromHex("00903C64 FFFFFF7F 903C00")}), "steps long", 26},
        {FromHex("4D546864 0000"), "ends inside its header", 6},
    };
    for (const Case& c : cases) {
        const ImportResult r = ParseMIDIFile(c.file);
        EXPECT_FALSE(r.Accepted()) << c.words;
        EXPECT_TRUE(r.reason.contains(c.words)) << r.reason.toStdString();
        EXPECT_EQ(r.offset, c.offset) << c.words;
    }
}

// The header is read first and the size checked before the rest is read.
TEST_F(SongGlobals, LargeFilesAreRefusedBeforeTheyAreRead) {
    const QByteArray header = QByteArray::fromHex("4D546864 00000006 0000 0001 0004");
    const struct {
        QByteArray start;
        long long size;
        const char* words;
    } cases[] = {
        {"", 2LL << 30, "not a Standard MIDI File"},
        {header, (4LL << 30) + 100, "4096 MiB long; songs larger than 256 MiB are not opened"},
        {header, 300LL << 20, "300 MiB long"},
    };
    for (const auto& c : cases) {
        QFile f(Path("big.mid"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.start);
        ASSERT_TRUE(f.resize(c.size));  // sparse: no disk space used
        f.close();
        const ImportResult r = ReadMIDIFile(Path("big.mid"));
        EXPECT_TRUE(r.reason.contains(c.words)) << r.Describe().toStdString();
    }
}

TEST_F(SongGlobals, RunningOutOfMemoryIsARefusal) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit leaves";
#endif
    // 8 tracks of 2^21 steps: 512 MiB of steps, where the limit leaves 128 MiB.
    std::vector<Bytes> tracks(8, FromHex("81808000903C64 00FF2F00"));
    Put(Path("long.mid"), Q(File(1, 4, tracks)));
    QFile status(QStringLiteral("/proc/self/statm"));  // first field: pages mapped
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    const rlim_t used = status.readAll().split(' ').value(0).toULongLong() * static_cast<rlim_t>(::getpagesize());
    rlimit old{};
    getrlimit(RLIMIT_AS, &old);
    const rlimit tight{used + (128u << 20), old.rlim_max};
    setrlimit(RLIMIT_AS, &tight);
    const ImportResult r = ReadMIDIFile(Path("long.mid"));
    setrlimit(RLIMIT_AS, &old);
    EXPECT_EQ(r.reason, "there is not enough memory to open it");
}

TEST_F(SongGlobals, RefusedFileKeepsTheSongAndAnAcceptedOneReplacesIt) {
    Load(OneTrack({Notes({60}), Break()}, 4, 3));
    const ImportResult r = ImportMIDIFile(Path("missing.mid"));
    EXPECT_EQ(r.Describe(), "the file could not be opened: No such file or directory");
    EXPECT_EQ(Rows(g_Tracks[0]), "60 |-|");
    // Instruments of channels the file does not set stay; every track's last step is 0.
    g_bytChannelPatch[1] = 50;
    Put(Path("ok.mid"), Q(File(1, 6, {FromHex("00C220 01923C64 00FF2F00"), FromHex("01924064 00FF2F00")})));
    ASSERT_TRUE(ImportMIDIFile(Path("ok.mid")).Accepted());
    EXPECT_EQ(std::vector<int>({g_lNumTracks, g_lNotesPerBeat, g_lNumSteps, g_bytChannelPatch[2], g_bytChannelPatch[1]}),
              std::vector<int>({2, 6, 1, 0x20, 50}));
    EXPECT_EQ(g_lLastStep, (std::vector<int>{0, 0}));
}

// ---------------------------------------------------------------- round trip

// Songs written and read back (fuzz/fuzz_smf_roundtrip does the same for songs from any file): a
// break while nothing sounds writes nothing and comes back empty, stale notes under empty steps and
// breaks are not part of the song, and a song in which nothing sounds has no events to give its length.
TEST(SmfRoundTrip, ExportedSongsOpenAsTheSameSong) {
    SongData two = OneTrack({Notes({60, 64}), Break(), Break(), Empty(), Notes({127, 0, 0})}, 9, 255);
    two.Tracks.push_back({15, {Break(), Notes({1}), SongStep{StepEmpty, 1, {70}}, SongStep{StepBreak, 1, {71}}, Empty()}});
    two.Tempo = 31;
    two.ChannelPatch = {1, 2, 3, 4, 5, 6, 7, 8, 9, 127, 11, 12, 13, 14, 15, 5};
    const struct {
        SongData song;
        std::vector<int> lastStep;
        std::vector<std::string> rows;
    } cases[] = {
        {two, {4, -1}, {"60 64 |-|-| |127 0 0 |", " |1 | |-| |"}},
        {OneTrack({Break(), Empty(), Notes({60})}, 2, 7), {2}, {"-| |60 |"}},  // the last step still sounds
        {OneTrack({Break(), SongStep{StepEmpty, 1, {70}}}, 3, 1), {0}, {""}},  // nothing sounds
    };
    for (const auto& c : cases) {
        const ImportResult r = ParseMIDIFile(Encode(c.song, c.lastStep));
        ASSERT_TRUE(r.Accepted()) << r.Describe().toStdString();
        const SongData& back = *r.song;
        SCOPED_TRACE(c.rows[0]);
        EXPECT_EQ(std::vector<int>({back.NumSteps, back.Tempo, back.NotesPerBeat, static_cast<int>(back.Tracks.size())}),
                  std::vector<int>({static_cast<int>(std::count(c.rows[0].begin(), c.rows[0].end(), '|')),
                                    c.song.Tempo, c.song.NotesPerBeat, static_cast<int>(c.rows.size())}));
        for (std::size_t t = 0; t < c.rows.size() && t < back.Tracks.size(); ++t) {
            const int channel = c.song.Tracks[t].Channel;
            EXPECT_EQ(Rows(back.Tracks[t]), c.rows[t]);
            EXPECT_EQ(back.Tracks[t].Channel, channel);
            EXPECT_TRUE(back.PatchSet & (1 << channel));
            EXPECT_EQ(back.ChannelPatch[channel], c.song.ChannelPatch[channel]);
        }
    }
}

// ---------------------------------------------------------------- corpus

std::vector<QString> FilesUnder(const QString& folder) {
    std::vector<QString> files;
    QDirIterator it(QStringLiteral(KIVRA_TEST_DATA_DIR "/midi/") + folder, {"*.mid"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) files.push_back(it.next());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(SmfCorpus, EveryFileOpensOrIsRefusedWithAReason) {
    const auto valid = FilesUnder("valid"), damaged = FilesUnder("damaged"), invalid = FilesUnder("invalid");
    ASSERT_GE(valid.size(), 4u);
    ASSERT_GE(invalid.size(), 10u);
    std::vector<Bytes> whole;
    for (const auto* set : {&valid, &damaged})
        for (const QString& path : *set) {
            const ImportResult r = ReadMIDIFile(path);
            EXPECT_TRUE(r.Accepted()) << path.toStdString() << ": " << r.Describe().toStdString();
            whole.push_back(ReadAll(path));
        }
    for (const QString& path : invalid) {
        const ImportResult r = ReadMIDIFile(path);
        EXPECT_FALSE(r.Accepted()) << path.toStdString();
        EXPECT_FALSE(r.reason.isEmpty()) << path.toStdString();
    }
    // Every prefix of every good file, and of an exported song, gives a song or a reason.
    whole.push_back(Encode(OneTrack({Notes({60, 64}), Empty(), Break(), Notes({1})})));
    for (const Bytes& b : whole)
        for (std::size_t n = 0; n < b.size(); ++n) {
            const ImportResult r = ParseMIDIFile(std::span(b.data(), n));
            if (!r.Accepted()) {
                EXPECT_FALSE(r.reason.isEmpty());
                EXPECT_LE(r.offset, static_cast<long long>(n));
            }
        }
}

TEST(SmfCorpus, FilesOfOtherProgramsOpenAsUsableSongs) {
    const QString dir = QStringLiteral(KIVRA_TEST_DATA_DIR "/midi/valid/");
    ImportResult r = ReadMIDIFile(dir + "csvmidi_tempo_map_sysex_480.mid");
    ASSERT_TRUE(r.Accepted());
    EXPECT_EQ(r.song->NotesPerBeat, 1);  // every onset lies on a beat
    EXPECT_EQ(r.song->Tempo, 120);
    EXPECT_EQ(r.song->NumSteps, 12);
    EXPECT_EQ(Rows(r.song->Tracks[1]), "60 64 |62 |67 |-|72 | | | |-| | | |");
    EXPECT_EQ(r.song->Tracks[2].Channel, 9);
    EXPECT_EQ(r.song->ChannelPatch[2], 24);

    r = ReadMIDIFile(dir + "abc2midi_two_voices_480.mid");
    ASSERT_TRUE(r.Accepted());
    EXPECT_EQ(r.song->Tempo, 96);
    EXPECT_EQ(r.song->Tracks.size(), 3u);
    int onsets = 0;
    for (const SongStep& s : r.song->Tracks[1].Steps) onsets += s.StepType == StepNotes;
    EXPECT_EQ(onsets, 22) << "no two eighth notes share a step";
}

}  // namespace
}  // namespace kivra
