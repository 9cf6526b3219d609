#!/usr/bin/env python3
# Hostile Standard MIDI Files. invalid/<what is wrong>/ must be refused with a reason;
# damaged/<what is wrong>/ must still open as a song.
import os, struct

def vlq(v):
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.insert(0, 0x80 | (v & 0x7F))
        v >>= 7
    return bytes(out)

def header(fmt=1, ntracks=1, division=4, length=6):
    return b"MThd" + struct.pack(">IHHH", length, fmt, ntracks, division)

def track(body, length=None):
    return b"MTrk" + struct.pack(">I", len(body) if length is None else length) + body

NOTE = b"\x00\xC0\x00" + b"\x01\x90\x3C\x64" + b"\x01\x90\x3C\x00" + b"\x00\xFF\x2F\x00"

files = {
    "invalid/no_mthd/riff_header.mid": b"RIFF\x00\x00\x00\x00RMIDdata",
    "invalid/no_mthd/empty.mid": b"",
    "invalid/no_mthd/text.mid": b"this is not a MIDI file\n",
    "invalid/header_length/length_8.mid": header(length=8) + b"\x00\x00" + track(NOTE),
    "invalid/header_length/length_0.mid": b"MThd\x00\x00\x00\x00" + track(NOTE),
    "invalid/format_2/three_patterns.mid": header(fmt=2, ntracks=1) + track(NOTE),
    "invalid/time_code_division/smpte_25fps.mid": header(division=0xE728) + track(NOTE),
    "invalid/zero_division/division_0.mid": header(division=0) + track(NOTE),
    "invalid/no_tracks/zero_tracks.mid": header(ntracks=0),
    "invalid/too_many_tracks/33_tracks.mid": header(ntracks=33) + track(NOTE) * 33,
    "invalid/too_many_tracks/65535_tracks.mid": header(ntracks=65535) + track(NOTE),
    "invalid/corrupt_vlq/delta_five_bytes.mid": header() + track(b"\x80\x80\x80\x80\x01\x90\x3C\x64" + NOTE),
    "invalid/corrupt_vlq/sysex_length_five_bytes.mid": header() + track(b"\x00\xF0\xFF\xFF\xFF\xFF\x7F\xF7" + NOTE),
    "invalid/corrupt_vlq/meta_length_five_bytes.mid": header() + track(b"\x00\xFF\x01\x81\x81\x81\x81\x01abc" + NOTE),
    "invalid/too_long/delta_max_at_division_1.mid": header(division=1) + track(b"\x00\x90\x3C\x64" + b"\xFF\xFF\xFF\x7F\x90\x3C\x00" + b"\x00\xFF\x2F\x00"),
    "invalid/too_long/many_max_deltas.mid": header(division=480) + track(b"\x00\x90\x3C\x64" + b"\xFF\xFF\xFF\x7F\xB0\x07\x64" * 64 + b"\x00\xFF\x2F\x00"),
    # Damaged but still a song.
    "damaged/track_past_end_of_file/length_too_big.mid": header(ntracks=2) + track(NOTE) + track(NOTE, length=0x7FFFFFFF),
    "damaged/track_past_end_of_file/cut_inside_event.mid": header() + track(NOTE + b"\x00\x90\x3C", length=1000),
    "damaged/missing_tracks/header_says_4.mid": header(ntracks=4) + track(NOTE),
    "damaged/alien_chunk/before_track.mid": header() + b"XFIH" + struct.pack(">I", 5) + b"hello" + track(NOTE),
    "damaged/no_end_of_track/notes_only.mid": header() + track(b"\x01\x90\x3C\x64\x01\x90\x3C\x00"),
    "damaged/data_before_status/first_byte_data.mid": header() + track(b"\x00\x3C\x64" + NOTE),
    "damaged/too_many_notes_on_one_tick/300_notes.mid": header() + track(b"".join(b"\x00\x90" + bytes([n % 128, 0x64]) for n in range(300)) + b"\x00\xFF\x2F\x00"),
    "damaged/system_messages/song_position_and_clock.mid": header() + track(b"\x00\xF2\x10\x20\x00\xF8\x00\xF1\x05\x00\xF3\x01\x00\xF6" + NOTE),
    "damaged/tempo_zero/set_tempo_0.mid": header() + track(b"\x00\xFF\x51\x03\x00\x00\x00" + NOTE),
    "damaged/high_bit_data/velocity_above_127.mid": header() + track(b"\x01\x90\x3C\xE4" + NOTE),
}
for name, data in files.items():
    os.makedirs(os.path.dirname(name), exist_ok=True)
    with open(name, "wb") as f:
        f.write(data)
