// The built-in synthesizer, rendered offline: it really sounds the notes it is sent.
#include "midi/backends/fluidsynth/fluidsynth_backend.h"
#include "midi/midiio.h"
#include "pitch.h"

#include <gtest/gtest.h>

using namespace kivra;

namespace {

constexpr double kRate = 44100.0;

std::vector<float> RenderMono(SoftSynth& synth, int frames) {
    std::vector<float> left, right;
    synth.Render(left, right, frames);
    for (std::size_t i = 0; i < left.size(); ++i) left[i] = 0.5f * (left[i] + right[i]);
    return left;
}

std::vector<float> PlayAndRender(SoftSynth& synth, int note) {
    synth.Play(PackShortMessage(0x90, note, 100));
    RenderMono(synth, 2205);  // skip the attack
    auto sound = RenderMono(synth, 8820);
    synth.Play(PackShortMessage(0x90, note, 0));
    return sound;
}

}  // namespace

TEST(SoftSynth, FindsTheSystemSoundFont) { EXPECT_FALSE(FindGmSoundFont().empty()); }

TEST(SoftSynth, SoundsThePitchOfTheNote) {
    SoftSynth synth(FindGmSoundFont(), kRate);
    ASSERT_TRUE(synth.Ready());
    EXPECT_LT(test::Rms(RenderMono(synth, 4410)), 1e-4) << "silent before any note";

    EXPECT_NEAR(test::EstimatePitch(PlayAndRender(synth, 69), kRate), 440.0, 440.0 * 0.03);
    RenderMono(synth, 44100);
    EXPECT_NEAR(test::EstimatePitch(PlayAndRender(synth, 60), kRate), 261.6, 261.6 * 0.03);
}

TEST(SoftSynth, FallsSilentAfterTheRelease) {
    SoftSynth synth(FindGmSoundFont(), kRate);
    ASSERT_TRUE(synth.Ready());
    const auto sounding = PlayAndRender(synth, 69);
    EXPECT_GT(test::Rms(sounding), 1e-3);
    RenderMono(synth, 2 * 44100);  // the release tail
    EXPECT_LT(test::Rms(RenderMono(synth, 4410)), 1e-4);
}

TEST(SoftSynth, ProgramChangeAndPitchBendChangeTheSound) {
    SoftSynth synth(FindGmSoundFont(), kRate);
    ASSERT_TRUE(synth.Ready());
    synth.Play(PackShortMessage(0xE0, 0, 0x7F));  // bend up by the default two semitones
    const double bent = test::EstimatePitch(PlayAndRender(synth, 69), kRate);
    EXPECT_NEAR(bent, 440.0 * std::pow(2.0, 2.0 / 12.0), 15.0);
    synth.Play(PackShortMessage(0xE0, 0, 0x40));
    RenderMono(synth, 2 * 44100);

    synth.Play(PackShortMessage(0xC0, 40));  // violin: still the note's pitch
    EXPECT_NEAR(test::EstimatePitch(PlayAndRender(synth, 69), kRate), 440.0, 440.0 * 0.03);
}

TEST(SoftSynth, MissingSoundFontMeansNotReadyAndSilent) {
    SoftSynth synth("/nonexistent.sf2", kRate);
    EXPECT_FALSE(synth.Ready());
    EXPECT_FALSE(synth.Play(PackShortMessage(0x90, 60, 100)));
    EXPECT_FALSE(synth.StartAudio());
}
