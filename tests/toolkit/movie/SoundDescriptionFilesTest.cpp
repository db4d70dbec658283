// Sound descriptions of files ffmpeg makes: their properties come from the description itself
// (format, rate, channels, sample size, layout) and equal what ffprobe reads from the same file.
#include "KelvoAudio.h"
#include "KelvoMovie.h"
#include "KelvoProperties.h"
#include "MovieFixtures.h"
#include "PlatformAudio.h"
#include "PlatformMovies.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace moviefixtures;
using testsupport::ScratchDir;

namespace {

struct Case {
    const char* codec;
    int rate, channels;
    OSType format;   // as the description names it
    uint32_t flags;  // of the stream description
    uint32_t layout; // the layout's tag
};

constexpr uint32_t kInt = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
constexpr uint32_t kFloat = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
constexpr uint32_t kBig = kAudioFormatFlagIsBigEndian;

} // namespace

TEST(SoundDescriptionFiles, PropertiesEqualFfprobes) {
    if (!haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    ScratchDir dir("sound-descriptions");
    // ffmpeg writes version 0 for 16-bit sound, version 1 for wider samples and version 2
    // ('lpcm') for rates beyond 16 bits.
    const Case cases[] = {
        {"pcm_s16le", 44100, 1, FOUR_CHAR_CODE("sowt"), kInt, kAudioChannelLayoutTag_Mono},
        {"pcm_s16le", 22050, 2, FOUR_CHAR_CODE("sowt"), kInt, kAudioChannelLayoutTag_Stereo},
        {"pcm_s16be", 8000, 1, FOUR_CHAR_CODE("twos"), kInt | kBig, kAudioChannelLayoutTag_Mono},
        {"pcm_s16be", 48000, 2, FOUR_CHAR_CODE("twos"), kInt | kBig, kAudioChannelLayoutTag_Stereo},
        {"pcm_s24be", 44100, 1, FOUR_CHAR_CODE("in24"), kInt | kBig, kAudioChannelLayoutTag_Mono},
        {"pcm_s24be", 32000, 2, FOUR_CHAR_CODE("in24"), kInt | kBig, kAudioChannelLayoutTag_Stereo},
        {"pcm_s24le", 44100, 2, FOUR_CHAR_CODE("in24"), kInt, kAudioChannelLayoutTag_Stereo},
        {"pcm_f32be", 44100, 1, FOUR_CHAR_CODE("fl32"), kFloat | kBig, kAudioChannelLayoutTag_Mono},
        {"pcm_f32be", 16000, 2, FOUR_CHAR_CODE("fl32"), kFloat | kBig, kAudioChannelLayoutTag_Stereo},
        {"pcm_s16le", 96000, 1, FOUR_CHAR_CODE("lpcm"), kInt, kAudioChannelLayoutTag_Mono},
        {"pcm_s16le", 96000, 2, FOUR_CHAR_CODE("lpcm"), kInt, kAudioChannelLayoutTag_Stereo},
    };
    for (const Case& c : cases) {
        const std::string name =
            std::string(c.codec) + "-" + std::to_string(c.rate) + "-" + std::to_string(c.channels);
        SCOPED_TRACE(name);
        const std::string file = dir.file(name + ".mov");
        ffmpeg("-f lavfi -i sine=sample_rate=" + std::to_string(c.rate) + ":duration=0.25 -ac " +
               std::to_string(c.channels) + " -c:a " + c.codec + " '" + file + "'");
        const auto probe = testsupport::keyValues(testsupport::run(
            "ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels,bits_per_sample,"
            "codec_tag_string -of default=nw=1 '" +
            file + "'"));
        ASSERT_EQ(probe.count("sample_rate"), 1u);

        Kelvo_Movie movie(file.c_str());
        ASSERT_TRUE(movie.qtObjIsValid()) << movie.Error();
        Track track = GetMovieIndTrack(movie.movie(), 1);
        Kelvo_SndDesc desc(GetTrackMedia(track), 1);
        ASSERT_EQ(desc.Error(), 0);
        EXPECT_EQ(desc.dataFormat(), c.format);
        std::unique_ptr<Kelvo_AudioStreamDescriptor> stream(desc.dataStreamDesc());
        ASSERT_NE(stream, nullptr) << desc.Error();
        EXPECT_EQ(stream->sampleRate(), std::atof(probe.at("sample_rate").c_str()));
        EXPECT_EQ(stream->channelsPerFrame(), std::strtoul(probe.at("channels").c_str(), nullptr, 10));
        EXPECT_EQ(stream->bitsPerChannel(), std::strtoul(probe.at("bits_per_sample").c_str(), nullptr, 10));
        EXPECT_EQ(stream->dataFormat(), kAudioFormatLinearPCM);
        EXPECT_EQ(stream->streamDescription()->mFormatFlags, c.flags);
        const uint32_t frameBytes = stream->channelsPerFrame() * stream->bitsPerChannel() / 8;
        EXPECT_EQ(stream->bytesPerFrame(), frameBytes);
        EXPECT_EQ(stream->bytesPerPacket(), frameBytes);
        EXPECT_EQ(stream->framesPerPacket(), 1u);
        EXPECT_EQ(desc.bitRate(), uint32_t(c.rate) * frameBytes * 8);

        std::unique_ptr<Kelvo_AudioChannelLayout> layout(desc.channelLayout());
        ASSERT_NE(layout, nullptr) << desc.Error();
        EXPECT_EQ(layout->channelsCount(), uint32_t(c.channels));
        EXPECT_EQ(layout->channelLayoutTag(), c.layout);
        std::unique_ptr<Kelvo_AudioChannelLayout> summary(movie.summaryChannelLayout());
        ASSERT_NE(summary, nullptr) << movie.Error();
        EXPECT_EQ(summary->channelsCount(), uint32_t(c.channels));

        char* text = nullptr;
        EXPECT_EQ(desc.settingsToString(text), 0);
        ASSERT_NE(text, nullptr);
        const std::string expected = std::to_string(stream->bitsPerChannel()) + "-bit " +
                                     ((c.flags & kAudioFormatFlagIsFloat) ? "Float" : "Integer");
        EXPECT_EQ(std::string(text).rfind(expected, 0), 0u) << text;
        EXPECT_NE(std::string(text).find(c.channels == 1 ? "Mono" : "Stereo"), std::string::npos) << text;
        delete[] text;
    }
}

// The codec data and the layout written through the properties become the description's
// extensions, and are read back from them.
TEST(SoundDescriptionFiles, CookieAndLayoutAreWrittenIntoTheDescription) {
    AudioStreamBasicDescription asbd{44100.0, FOUR_CHAR_CODE("sowt"), kInt, 4, 1, 4, 2, 16, 0};
    Kelvo_AudioStreamDescriptor stream(&asbd);
    Kelvo_SndDesc desc(&stream, nullptr);
    ASSERT_EQ(desc.Error(), 0);
    std::unique_ptr<Kelvo_AudioChannelLayout> derived(desc.channelLayout());
    ASSERT_NE(derived, nullptr);
    EXPECT_EQ(derived->channelLayoutTag(), kAudioChannelLayoutTag_Stereo);

    Kelvo_AudioChannelLayout layout;
    layout.useBitmapForMapping(true);
    layout.channelBitmap(3);
    EXPECT_EQ(desc.channelLayout(&layout), 0);
    const uint8_t cookie[] = {0, 0, 0, 10, 'e', 'n', 'd', 'a', 0, 1};
    Kelvo_AudioStreamDescriptor withCookie(&asbd);
    withCookie.formatMagicCookie(const_cast<uint8_t*>(cookie), sizeof cookie);
    EXPECT_EQ(desc.dataStreamDesc(&withCookie), 0);
    EXPECT_EQ(desc.descSize(), GetHandleSize(reinterpret_cast<Handle>(desc.handle())));

    std::unique_ptr<Kelvo_AudioChannelLayout> back(desc.channelLayout());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->channelLayoutTag(), 0x10000u);
    EXPECT_EQ(back->channelBitmap(), 3u);
    std::unique_ptr<Kelvo_AudioStreamDescriptor> out(desc.dataStreamDesc());
    ASSERT_NE(out, nullptr);
    Handle h = out->formatMagicCookie();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(GetHandleSize(h), Size(sizeof cookie));
    EXPECT_EQ(std::memcmp(*h, cookie, sizeof cookie), 0);

    // The stream description is the description's: it cannot be written.
    Kelvo_PropertySoundDesc property(desc.handle());
    ASSERT_TRUE(property.getInfo(kQTSoundDescriptionPropertyID_AudioStreamBasicDescription));
    EXPECT_FALSE(property.setValue(&asbd, sizeof asbd));
    EXPECT_EQ(property.Error(), kQTPropertyReadOnlyErr);
    // A layout counting more descriptions than it holds is refused.
    const uint32_t lying[3] = {0, 0, 5};
    Kelvo_PropertySoundDesc clay(desc.handle());
    ASSERT_TRUE(clay.getInfo(kQTSoundDescriptionPropertyID_AudioChannelLayout));
    EXPECT_FALSE(clay.setValue(lying, sizeof lying));
    EXPECT_EQ(clay.Error(), kQTPropertyBadValueSizeErr);
}
