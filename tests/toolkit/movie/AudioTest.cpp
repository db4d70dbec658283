#include "KelvoAudio.h"

#include "PlatformAtoms.h"
#include "PlatformCF.h"
#include "PlatformEndian.h"
#include "PlatformMemory.h"
#include "PlatformProperties.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kReadWrite = kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanSetNow;

AudioStreamBasicDescription pcm(double rate, uint32_t channels, uint32_t bits) {
    AudioStreamBasicDescription d{};
    d.mSampleRate = rate;
    d.mFormatID = FOUR_CHAR_CODE("lpcm");
    d.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    d.mBytesPerFrame = channels * bits / 8;
    d.mBytesPerPacket = d.mBytesPerFrame;
    d.mFramesPerPacket = 1;
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = bits;
    return d;
}

AudioChannelDescription channel(uint32_t label, uint32_t flags, float x, float y, float z) {
    AudioChannelDescription d{};
    d.mChannelLabel = label;
    d.mChannelFlags = flags;
    d.mCoordinates[0] = x;
    d.mCoordinates[1] = y;
    d.mCoordinates[2] = z;
    return d;
}

std::vector<uint8_t> bytesOf(Handle h) {
    if (!h) return {};
    const uint8_t* p = reinterpret_cast<const uint8_t*>(*h);
    return std::vector<uint8_t>(p, p + GetHandleSize(h));
}

struct Container {
    QTAtomContainer c = nullptr;
    Container() { QTNewAtomContainer(&c); }
    ~Container() { QTDisposeAtomContainer(c); }
    QTAtom addSound() {
        QTAtom a = 0;
        QTInsertChild(c, kParentAtomIsContainer, kQTSettingsSound, 1, 0, 0, nullptr, &a);
        return a;
    }
    std::vector<uint8_t> data(QTAtom parent, QTAtomType type) {
        QTAtom a = QTFindChildByIndex(c, parent, type, 1, nullptr);
        if (!a) return {};
        int32_t size = 0;
        Ptr p = nullptr;
        QTGetAtomDataPtr(c, a, &size, &p);
        return std::vector<uint8_t>(p, p + size);
    }
};

// Properties are kept per description by address; each test removes what it gave.
struct SoundProperties {
    SoundDescriptionHandle desc;
    explicit SoundProperties(SoundDescriptionHandle d) : desc(d) {}
    ~SoundProperties() { platform::removeStoredProperties(desc); }
    void give(OSType id, const void* value, uint32_t size, uint32_t flags = kReadWrite) {
        ASSERT_EQ(
            platform::setStoredProperty(desc, kQTPropertyClass_SoundDescription, id, 0, flags, value, size),
            0);
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Channel descriptions

TEST(AudioChannelDescription, DefaultsResetAndUse) {
    Kelvo_AudioChannelDescription d;
    ASSERT_TRUE(d.qtObjIsValid());
    EXPECT_EQ(d.label(), 100u);
    EXPECT_EQ(d.flags(), 5u);
    EXPECT_EQ(d.coordinateType(), 1);
    EXPECT_TRUE(d.isCoordinatesUnitMeters());
    EXPECT_TRUE(d.coordinatesEnabled());
    EXPECT_TRUE(d.isUsed());
    for (int i = 0; i < d.coordinatesCount(); ++i)
        EXPECT_EQ(d.coordinate(i), 0.0f);

    d.reset();
    EXPECT_EQ(d.label(), 0xFFFFFFFFu);
    EXPECT_EQ(d.flags(), 0u);
    EXPECT_FALSE(d.isUsed());
    EXPECT_EQ(d.coordinateType(), 0);
    d.isUsed(true);
    EXPECT_EQ(d.label(), 100u);
    d.isUsed(false);
    EXPECT_EQ(d.label(), 0u);
    EXPECT_FALSE(d.isUsed());
    d.coordinatesEnabled(true);
    EXPECT_EQ(d.label(), 100u);
}

TEST(AudioChannelDescription, CoordinatesAreBoundedAndClearedOnTypeChange) {
    Kelvo_AudioChannelDescription d;
    for (int bad : {-1, 3, 100}) {
        Kelvo_AudioChannelDescription fresh;
        EXPECT_EQ(fresh.coordinate(bad), 0.0f) << bad;
        EXPECT_EQ(fresh.Error(), -50) << bad;
        Kelvo_AudioChannelDescription set;
        set.coordinate(bad, 1.0f);
        EXPECT_EQ(set.Error(), -50) << bad;
    }
    d.coordinate(0, 1.5f);
    d.coordinate(2, -2.0f);
    EXPECT_EQ(d.coordinate(0), 1.5f);
    EXPECT_EQ(d.coordinate(2), -2.0f);
    EXPECT_EQ(d.Error(), 0);

    d.coordinateType(1); // already rectangular: the coordinates stay
    EXPECT_EQ(d.coordinate(0), 1.5f);
    d.coordinateType(2);
    EXPECT_EQ(d.coordinateType(), 2);
    EXPECT_EQ(d.flags(), 2u | 4u);
    EXPECT_EQ(d.coordinate(0), 0.0f);
    EXPECT_EQ(d.coordinate(2), 0.0f);

    d.coordinate(1, 3.0f);
    d.coordinateType(3);
    EXPECT_EQ(d.Error(), -50);
    EXPECT_EQ(d.coordinateType(), 2);
    EXPECT_EQ(d.coordinate(1), 3.0f);

    d.isCoordinatesUnitMeters(false);
    EXPECT_EQ(d.flags(), 2u);
}

TEST(AudioChannelDescription, CopiesTakeTheValues) {
    const AudioChannelDescription raw = channel(7, 2, 30.0f, -10.0f, 1.0f);
    Kelvo_AudioChannelDescription d(&raw);
    EXPECT_EQ(d.label(), 7u);
    EXPECT_EQ(d.coordinateType(), 2);
    EXPECT_EQ(d.coordinate(1), -10.0f);

    Kelvo_AudioChannelDescription fromNull(nullptr); // the defaults stay
    EXPECT_EQ(fromNull.label(), 100u);

    std::unique_ptr<Kelvo_QTObj> clone(d.clone());
    ASSERT_NE(clone, nullptr);
    auto* c = static_cast<Kelvo_AudioChannelDescription*>(clone.get());
    EXPECT_NE(c->description(), d.description());
    EXPECT_EQ(std::memcmp(c->description(), &raw, sizeof raw), 0);

    Kelvo_AudioChannelDescription assigned;
    assigned = d;
    assigned = assigned;
    EXPECT_EQ(std::memcmp(assigned.description(), &raw, sizeof raw), 0);
}

// ---------------------------------------------------------------------------------------------
// Channel layouts

TEST(AudioChannelLayout, ChannelsCountFollowsTheTag) {
    Kelvo_AudioChannelLayout layout;
    EXPECT_EQ(layout.channelLayoutTag(), 0x650002u);
    EXPECT_EQ(layout.channelsCount(), 2u);

    struct Case {
        uint32_t tag;
        uint32_t bitmap;
        uint32_t channels;
    } cases[] = {
        {0x650002, 0, 2}, {0x10000, 0xFF, 2}, {0x10000, 0, 2},
        {0x10003, 0, 3},  {0x6C0006, 0, 6},   {0x10001, 0x3F, 1},
    };
    for (const Case& c : cases) {
        layout.channelLayoutTag(c.tag);
        layout.channelBitmap(c.bitmap);
        EXPECT_EQ(layout.channelsCount(), c.channels) << std::hex << c.tag;
    }

    layout.useBitmapForMapping(true);
    EXPECT_TRUE(layout.useBitmapForMapping());
    layout.useBitmapForMapping(false);
    EXPECT_EQ(layout.channelLayoutTag(), 0x650002u);
    layout.useDescriptionsForMapping(true);
    EXPECT_EQ(layout.channelLayoutTag(), 0u);
    EXPECT_EQ(layout.channelsCount(), 0u);
    const AudioChannelDescription left = channel(1, 0, 0, 0, 0);
    EXPECT_EQ(layout.addDescription(left), 1u);
    EXPECT_EQ(layout.channelsCount(), 1u);
}

TEST(AudioChannelLayout, HandRoundTripPinsThePlatformLayout) {
    Kelvo_AudioChannelLayout layout;
    layout.useDescriptionsForMapping(true);
    layout.channelBitmap(0x3);
    const AudioChannelDescription left = channel(1, 1, -1.0f, 0.0f, 0.0f);
    Kelvo_AudioChannelDescription right;
    right.label(2);
    right.coordinate(0, 1.0f);
    EXPECT_EQ(layout.addDescription(left), 1u);
    EXPECT_EQ(layout.addDescription(right), 2u);
    right.label(99); // the layout holds its own copy
    EXPECT_EQ(layout.channelsCount(), 2u);

    Handle h = layout.channelLayout();
    ASSERT_NE(h, nullptr);
    const std::vector<uint8_t> bytes = bytesOf(h);
    ASSERT_EQ(bytes.size(), 12u + 2 * 20u);
    uint32_t words[3];
    std::memcpy(words, bytes.data(), sizeof words);
    EXPECT_EQ(words[0], 0u);
    EXPECT_EQ(words[1], 3u);
    EXPECT_EQ(words[2], 2u);
    AudioChannelDescription second{};
    std::memcpy(&second, bytes.data() + 32, sizeof second);
    EXPECT_EQ(second.mChannelLabel, 2u);
    EXPECT_EQ(second.mChannelFlags, 5u);
    EXPECT_EQ(second.mCoordinates[0], 1.0f);
    AudioChannelDescription first{};
    std::memcpy(&first, bytes.data() + 12, sizeof first);
    EXPECT_EQ(std::memcmp(&first, &left, sizeof left), 0);

    // Back from the bytes: the same layout.
    Kelvo_AudioChannelLayout back(reinterpret_cast<const AudioChannelLayout*>(*h));
    EXPECT_EQ(back.channelsCount(), 2u);
    Handle again = back.channelLayout();
    EXPECT_EQ(bytesOf(again), bytes);
    DisposeHandle(again);
    DisposeHandle(h);

    Kelvo_AudioChannelLayout empty;
    Handle header = empty.channelLayout();
    EXPECT_EQ(GetHandleSize(header), 12);
    DisposeHandle(header);
}

TEST(AudioChannelLayout, CopiesOwnTheirDescriptions) {
    Kelvo_AudioChannelLayout layout;
    layout.useDescriptionsForMapping(true);
    layout.addDescription(channel(1, 0, 0, 0, 0));
    layout.addDescription(channel(2, 0, 0, 0, 0));

    Kelvo_AudioChannelLayout copy(layout);
    std::unique_ptr<Kelvo_QTObj> clone(layout.clone());
    Kelvo_AudioChannelLayout assigned;
    assigned = layout;
    assigned = assigned;
    for (Kelvo_AudioChannelLayout* l :
         {&copy, static_cast<Kelvo_AudioChannelLayout*>(clone.get()), &assigned}) {
        ASSERT_EQ(l->channelDescriptions().count(), 2);
        EXPECT_EQ(l->channelsCount(), 2u);
        auto* d = static_cast<Kelvo_AudioChannelDescription*>(l->channelDescriptions().getObjValueByRef(1));
        EXPECT_EQ(d->label(), 2u);
        d->label(50); // the original keeps its own
    }
    auto* original =
        static_cast<Kelvo_AudioChannelDescription*>(layout.channelDescriptions().getObjValueByRef(1));
    EXPECT_EQ(original->label(), 2u);

    // Lists of other objects: only channel descriptions are taken, the stored count stays.
    Kelvo_QTObjectsList mixed;
    Kelvo_AudioChannelDescription one;
    Kelvo_AudioStreamDescriptor notAChannel;
    mixed.addObjValue(&one);
    mixed.addObjValue(&notAChannel);
    mixed.addObjValue(&one);
    layout.channelDescriptions(mixed);
    EXPECT_EQ(layout.channelDescriptions().count(), 2);
    layout.channelDescriptions(layout.channelDescriptions());
    EXPECT_EQ(layout.channelDescriptions().count(), 2);
    EXPECT_EQ(layout.channelsCount(), 2u);

    layout.reset();
    EXPECT_EQ(layout.channelDescriptions().count(), 0);
    EXPECT_EQ(layout.channelLayoutTag(), 0x650002u);
}

// ---------------------------------------------------------------------------------------------
// Stream descriptions

TEST(AudioStreamDescriptor, ExclusiveFlagPairs) {
    struct Case {
        uint32_t start;
        void (Kelvo_AudioStreamDescriptor::*set)(bool);
        bool on;
        uint32_t expected;
    } cases[] = {
        {4, &Kelvo_AudioStreamDescriptor::isDataFloat, true, 1},
        {1, &Kelvo_AudioStreamDescriptor::isDataSignedInteger, true, 4},
        {16, &Kelvo_AudioStreamDescriptor::isDataPacked, true, 8},
        {8, &Kelvo_AudioStreamDescriptor::isDataAlignedHigh, true, 16},
        {5, &Kelvo_AudioStreamDescriptor::isDataFloat, false, 4},
        {6, &Kelvo_AudioStreamDescriptor::isDataBigEndian, false, 4},
        {4, &Kelvo_AudioStreamDescriptor::isDataBigEndian, true, 6},
        {0, &Kelvo_AudioStreamDescriptor::isDataInterleaved, false, 32},
        {32, &Kelvo_AudioStreamDescriptor::isDataInterleaved, true, 0},
    };
    for (const Case& c : cases) {
        AudioStreamBasicDescription raw{};
        raw.mFormatFlags = c.start;
        Kelvo_AudioStreamDescriptor s(&raw);
        (s.*c.set)(c.on);
        EXPECT_EQ(s.streamDescription()->mFormatFlags, c.expected) << c.start << " " << c.on;
    }

    Kelvo_AudioStreamDescriptor none(nullptr);
    EXPECT_FALSE(none.qtObjIsValid());
    EXPECT_TRUE(none.isDataInterleaved());
    EXPECT_FALSE(none.isDataFloat());
    none.isDataFloat(true);
    EXPECT_EQ(none.clone(), nullptr);
}

TEST(AudioStreamDescriptor, FieldsRefuseZeroAndAnswerZeroWhenInvalid) {
    AudioStreamBasicDescription raw = pcm(44100.0, 2, 16);
    Kelvo_AudioStreamDescriptor s(&raw);
    EXPECT_NE(s.streamDescription(), &raw);
    EXPECT_EQ(s.dataFormat(), FOUR_CHAR_CODE("lpcm"));
    EXPECT_EQ(s.sampleRate(), 44100.0);
    EXPECT_EQ(s.channelsPerFrame(), 2u);
    EXPECT_EQ(s.bytesPerFrame(), 4u);

    using Setter = void (Kelvo_AudioStreamDescriptor::*)(uint32_t);
    using Getter = uint32_t (Kelvo_AudioStreamDescriptor::*)() const;
    const std::pair<Setter, Getter> fields[] = {
        {&Kelvo_AudioStreamDescriptor::dataFormat, &Kelvo_AudioStreamDescriptor::dataFormat},
        {&Kelvo_AudioStreamDescriptor::bytesPerPacket, &Kelvo_AudioStreamDescriptor::bytesPerPacket},
        {&Kelvo_AudioStreamDescriptor::framesPerPacket, &Kelvo_AudioStreamDescriptor::framesPerPacket},
        {&Kelvo_AudioStreamDescriptor::bytesPerFrame, &Kelvo_AudioStreamDescriptor::bytesPerFrame},
        {&Kelvo_AudioStreamDescriptor::channelsPerFrame, &Kelvo_AudioStreamDescriptor::channelsPerFrame},
        {&Kelvo_AudioStreamDescriptor::bitsPerChannel, &Kelvo_AudioStreamDescriptor::bitsPerChannel},
    };
    Kelvo_AudioStreamDescriptor none(nullptr);
    for (auto [set, get] : fields) {
        Kelvo_AudioStreamDescriptor t(&raw);
        const uint32_t before = (t.*get)();
        (t.*set)(0);
        EXPECT_EQ(t.Error(), -50);
        EXPECT_EQ((t.*get)(), before);
        (t.*set)(24);
        EXPECT_EQ((t.*get)(), 24u);
        (none.*set)(24);
        EXPECT_EQ((none.*get)(), 0u);
    }
    EXPECT_EQ(none.Error(), 0);
    for (double bad : {0.0, -8000.0, std::nan("")}) {
        Kelvo_AudioStreamDescriptor t(&raw);
        t.sampleRate(bad);
        EXPECT_EQ(t.Error(), -50);
        EXPECT_EQ(t.sampleRate(), 44100.0);
    }
    EXPECT_EQ(none.sampleRate(), 0.0);

    Kelvo_AudioStreamDescriptor zeroed;
    ASSERT_TRUE(zeroed.qtObjIsValid());
    EXPECT_EQ(zeroed.sampleRate(), 0.0);
    EXPECT_EQ(zeroed.dataFormat(), 0u);
}

TEST(AudioStreamDescriptor, CopiesCarryTheCookie) {
    AudioStreamBasicDescription raw = pcm(48000.0, 1, 24);
    Kelvo_AudioStreamDescriptor s(&raw);
    const char cookie[] = "codec-private";
    s.formatMagicCookie(cookie, sizeof cookie);
    ASSERT_NE(s.formatMagicCookie(), nullptr);
    s.formatMagicCookie(s.formatMagicCookie()); // its own cookie stays
    ASSERT_NE(s.formatMagicCookie(), nullptr);

    Kelvo_AudioStreamDescriptor copy(s);
    std::unique_ptr<Kelvo_QTObj> clone(s.clone());
    Kelvo_AudioStreamDescriptor assigned;
    assigned = s;
    for (Kelvo_AudioStreamDescriptor* t :
         {&copy, static_cast<Kelvo_AudioStreamDescriptor*>(clone.get()), &assigned}) {
        ASSERT_NE(t->formatMagicCookie(), nullptr);
        EXPECT_NE(t->formatMagicCookie(), s.formatMagicCookie());
        EXPECT_EQ(bytesOf(t->formatMagicCookie()), bytesOf(s.formatMagicCookie()));
        EXPECT_EQ(t->sampleRate(), 48000.0);
    }
    // Assigning an invalid one empties it.
    Kelvo_AudioStreamDescriptor none(nullptr);
    assigned = none;
    EXPECT_FALSE(assigned.qtObjIsValid());
    EXPECT_EQ(assigned.formatMagicCookie(), nullptr);
    s.formatMagicCookie(nullptr, 0);
    EXPECT_EQ(s.formatMagicCookie(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Sound descriptions: fields by version

TEST(SoundDescription, Version1RateIsUnsignedFixed) {
    Kelvo_SndDesc d;
    ASSERT_TRUE(d.qtObjIsValid());
    EXPECT_EQ(d.descVersion(), 1);
    EXPECT_EQ(d.descSize(), 52);
    EXPECT_STREQ(d.qtObjName(), "Kelvo_SndDesc");
    EXPECT_TRUE(d.isA("Kelvo_SmpDescriptor"));

    struct Case {
        int32_t rate;
        uint32_t fixed;
    } cases[] = {{44100, 44100u << 16},
                 {32768, 0x80000000u},
                 {32769, 32769u << 16},
                 {65535, 0xFFFF0000u},
                 {8000, 8000u << 16}};
    for (const Case& c : cases) {
        d.qtSndRate(c.rate);
        EXPECT_EQ(d.qtFixSndRate(), c.fixed) << c.rate;
        EXPECT_EQ(d.qtSndRate(), c.rate);
        EXPECT_EQ((**d.handle()).sampleRate, c.fixed);
    }
    EXPECT_EQ(d.Error(), 0);
    // A rate the field cannot hold would wrap into another one: refused.
    for (int32_t bad : {65536, 70000, -1}) {
        d.qtSndRate(bad);
        EXPECT_EQ(d.Error(), -50);
        EXPECT_EQ(d.qtSndRate(), 8000);
    }
    d.qtFixSndRate(0x56220000u); // 22050
    EXPECT_EQ(d.qtSndRate(), 22050);

    d.qtSndChannels(2);
    d.qtSndBits(16);
    EXPECT_EQ((**d.handle()).numChannels, 2);
    EXPECT_EQ((**d.handle()).sampleSize, 16);
    d.qtSamplesPerPacket(1);
    d.qtBytesPerPacket(2);
    d.qtBytesPerFrame(4);
    d.qtBytesPerSample(2);
    EXPECT_EQ(d.qtSamplesPerPacket(), 1u);
    EXPECT_EQ(d.qtBytesPerPacket(), 2u);
    EXPECT_EQ(d.qtBytesPerFrame(), 4u);
    EXPECT_EQ(d.qtBytesPerSample(), 2u);
    uint32_t perFrame = 0;
    std::memcpy(&perFrame, reinterpret_cast<char*>(*d.handle()) + 44, 4);
    EXPECT_EQ(perFrame, 4u);
}

TEST(SoundDescription, MadeFromStreamAndLayoutByVersion) {
    // Stereo at 44.1 kHz fits version 1; six channels at 96 kHz need version 2.
    AudioStreamBasicDescription stereo = pcm(44100.0, 2, 16);
    Kelvo_AudioStreamDescriptor s1(&stereo);
    const uint8_t cookie[] = {1, 2, 3, 4, 5};
    s1.formatMagicCookie(cookie, sizeof cookie);
    Kelvo_AudioChannelLayout layout;
    layout.useDescriptionsForMapping(true);
    layout.addDescription(channel(1, 0, 0, 0, 0));
    layout.addDescription(channel(2, 0, 0, 0, 0));
    Kelvo_SndDesc v1(&s1, &layout);
    ASSERT_EQ(v1.Error(), 0);
    EXPECT_EQ(v1.descVersion(), 1);
    EXPECT_EQ(v1.dataFormat(), FOUR_CHAR_CODE("lpcm"));
    EXPECT_EQ(v1.qtSndChannels(), 2);
    EXPECT_EQ(v1.qtSndBits(), 16);
    EXPECT_EQ(v1.qtSndRate(), 44100);
    EXPECT_EQ(v1.qtBytesPerFrame(), 4u);
    EXPECT_EQ(v1.descSize(), GetHandleSize(reinterpret_cast<Handle>(v1.handle())));

    Handle wave = nullptr;
    ASSERT_EQ(GetSoundDescriptionExtension(v1.handle(), &wave, FOUR_CHAR_CODE("wave")), 0);
    EXPECT_EQ(bytesOf(wave), std::vector<uint8_t>(cookie, cookie + sizeof cookie));
    DisposeHandle(wave);
    Handle chan = nullptr;
    ASSERT_EQ(GetSoundDescriptionExtension(v1.handle(), &chan, FOUR_CHAR_CODE("chan")), 0);
    Handle expected = layout.channelLayout();
    EXPECT_EQ(bytesOf(chan), bytesOf(expected));
    DisposeHandle(expected);
    DisposeHandle(chan);
    Handle missing = reinterpret_cast<Handle>(1);
    EXPECT_EQ(GetSoundDescriptionExtension(v1.handle(), &missing, FOUR_CHAR_CODE("esds")), -2101);
    EXPECT_EQ(missing, nullptr);

    AudioStreamBasicDescription surround = pcm(96000.0, 6, 24);
    Kelvo_AudioStreamDescriptor s2(&surround);
    Kelvo_SndDesc v2(&s2, nullptr);
    ASSERT_EQ(v2.Error(), 0);
    EXPECT_EQ(v2.descVersion(), 2);
    EXPECT_EQ(v2.qtSndChannels(), 6);
    EXPECT_EQ(v2.qtSndBits(), 24);
    EXPECT_EQ(v2.qtSndRate(), 96000);
    EXPECT_EQ(v2.qtFixSndRate(), 0xFFFFFFFFu); // beyond unsigned 16.16: the largest value
    EXPECT_EQ(v2.qtBytesPerFrame(), 0u);
    v2.qtBytesPerFrame(9);
    EXPECT_EQ(v2.qtBytesPerFrame(), 0u);
    v2.qtSndRate(192000);
    EXPECT_EQ(v2.qtSndRate(), 192000);
    v2.qtFixSndRate(48000u << 16);
    EXPECT_EQ(v2.qtSndRate(), 48000);
    v2.qtSndChannels(8);
    EXPECT_EQ(v2.qtSndChannels(), 8);
    Handle none = reinterpret_cast<Handle>(1);
    EXPECT_EQ(GetSoundDescriptionExtension(v2.handle(), &none, FOUR_CHAR_CODE("wave")), -2101);

    Kelvo_SndDesc noStream(nullptr, &layout);
    EXPECT_EQ(noStream.Error(), -50);
    EXPECT_FALSE(noStream.qtObjIsValid());
    EXPECT_EQ(noStream.descVersion(), -1);
    EXPECT_EQ(noStream.qtSndRate(), 0);
    Kelvo_AudioStreamDescriptor invalid(nullptr);
    Kelvo_SndDesc fromInvalid(&invalid, nullptr);
    EXPECT_EQ(fromInvalid.Error(), -50);
    EXPECT_FALSE(fromInvalid.qtObjIsValid());
}

TEST(SoundDescription, CopiesKeepTheCodecData) {
    AudioStreamBasicDescription stereo = pcm(22050.0, 2, 8);
    Kelvo_AudioStreamDescriptor s(&stereo);
    const char cookie[] = "kuki";
    s.formatMagicCookie(cookie, 4);
    Kelvo_SndDesc made(&s, nullptr);
    ASSERT_TRUE(made.qtObjIsValid());

    Kelvo_SndDesc copy;
    ASSERT_TRUE(copy.copy(reinterpret_cast<SampleDescriptionHandle>(made.handle())));
    EXPECT_EQ(copy.qtSndRate(), 22050);
    ASSERT_TRUE(copy.hasExtension());
    EXPECT_EQ(bytesOf(copy.hdescExtension()), std::vector<uint8_t>(cookie, cookie + 4));

    // A description without codec data leaves no extension and no error.
    Kelvo_SndDesc plain;
    ASSERT_TRUE(copy.copy(reinterpret_cast<SampleDescriptionHandle>(plain.handle())));
    EXPECT_FALSE(copy.hasExtension());
    EXPECT_EQ(copy.Error(), 0);
    EXPECT_EQ(copy.descVersion(), 1);

    // Only sound descriptions are copied from.
    Kelvo_SmpDescriptor generic(16);
    EXPECT_FALSE(copy.copy(static_cast<const Kelvo_SmpDescriptor&>(generic)));
    EXPECT_TRUE(copy.copy(static_cast<const Kelvo_SmpDescriptor&>(made)));
    EXPECT_EQ(copy.qtSndRate(), 22050);

    std::unique_ptr<Kelvo_QTObj> clone(made.clone());
    ASSERT_NE(clone, nullptr);
    EXPECT_TRUE(clone->isA("Kelvo_SndDesc"));
    SoundDescriptionHandle h = made.handleCopy();
    ASSERT_NE(h, nullptr);
    EXPECT_NE(h, made.handle());
    DisposeHandle(reinterpret_cast<Handle>(h));
}

TEST(SoundDescription, MediaWithoutSoundIsRefused) {
    Kelvo_SndDesc none(static_cast<Media>(nullptr), 1);
    EXPECT_EQ(none.Error(), -2008);
    EXPECT_FALSE(none.qtObjIsValid());
    char storage[8] = {};
    Kelvo_SndDesc other(reinterpret_cast<Media>(storage), 1);
    EXPECT_EQ(other.Error(), -2008);
    EXPECT_FALSE(other.qtObjIsValid());
}

TEST(SoundDescription, CorruptExtensionsAreRefused) {
    Kelvo_SndDesc d;
    Handle h = reinterpret_cast<Handle>(d.handle());
    // An extension whose size runs past the description.
    const uint8_t ext[] = {0, 0, 0, 40, 'w', 'a', 'v', 'e', 1, 2};
    ASSERT_EQ(PtrAndHand(ext, h, sizeof ext), 0);
    int32_t size = GetHandleSize(h);
    std::memcpy(*h, &size, 4);
    Handle out = nullptr;
    EXPECT_EQ(GetSoundDescriptionExtension(d.handle(), &out, FOUR_CHAR_CODE("wave")), -50);
    EXPECT_EQ(out, nullptr);
    // A declared size beyond the handle.
    size += 100;
    std::memcpy(*h, &size, 4);
    EXPECT_EQ(GetSoundDescriptionExtension(d.handle(), &out, FOUR_CHAR_CODE("wave")), -50);
    // An extension of a size below its own header.
    const uint8_t tiny[] = {0, 0, 0, 4, 'w', 'a', 'v', 'e'};
    SetHandleSize(h, 52);
    ASSERT_EQ(PtrAndHand(tiny, h, sizeof tiny), 0);
    size = GetHandleSize(h);
    std::memcpy(*h, &size, 4);
    EXPECT_EQ(GetSoundDescriptionExtension(d.handle(), &out, FOUR_CHAR_CODE("wave")), -50);
}

// ---------------------------------------------------------------------------------------------
// Sound settings atoms

TEST(SoundSettings, RoundTripThroughTheContainer) {
    Kelvo_SndDesc d;
    d.dataFormat(FOUR_CHAR_CODE("twos"));
    d.qtSndRate(44100);
    d.qtSndBits(16);
    d.qtSndChannels(2);

    Container settings;
    EXPECT_EQ(d.FillQTAtomSettings(settings.c), -2101); // no 'soun' yet
    const QTAtom sound = settings.addSound();
    ASSERT_EQ(d.FillQTAtomSettings(settings.c), 0);
    EXPECT_EQ(settings.data(sound, FOUR_CHAR_CODE("ssct")), (std::vector<uint8_t>{'t', 'w', 'o', 's'}));
    EXPECT_EQ(settings.data(sound, FOUR_CHAR_CODE("ssrt")), (std::vector<uint8_t>{0xAC, 0x44, 0x00, 0x00}));
    EXPECT_EQ(settings.data(sound, FOUR_CHAR_CODE("ssss")), (std::vector<uint8_t>{0x00, 0x10}));
    EXPECT_EQ(settings.data(sound, FOUR_CHAR_CODE("sscc")), (std::vector<uint8_t>{0x00, 0x02}));

    // Writing again replaces the values in place.
    d.qtSndChannels(1);
    ASSERT_EQ(d.FillQTAtomSettings(settings.c), 0);
    EXPECT_EQ(QTCountChildrenOfType(settings.c, sound, FOUR_CHAR_CODE("sscc")), 1);
    EXPECT_EQ(settings.data(sound, FOUR_CHAR_CODE("sscc")), (std::vector<uint8_t>{0x00, 0x01}));

    Kelvo_SndDesc back(settings.c);
    EXPECT_EQ(back.Error(), 0);
    EXPECT_EQ(back.descVersion(), 1);
    EXPECT_EQ(back.dataFormat(), FOUR_CHAR_CODE("twos"));
    EXPECT_EQ(back.qtSndRate(), 44100);
    EXPECT_EQ(back.qtSndBits(), 16);
    EXPECT_EQ(back.qtSndChannels(), 1);

    EXPECT_EQ(d.FillQTAtomSettings(nullptr), -50);
    Kelvo_SndDesc none(static_cast<Media>(nullptr), 1);
    EXPECT_EQ(none.FillQTAtomSettings(settings.c), -2008); // nothing happens without a description
}

TEST(SoundSettings, MissingValuesReadAsZero) {
    Container settings;
    const QTAtom sound = settings.addSound();
    uint8_t rate[4];
    platform::storeBE32(rate, 8000u << 16);
    ASSERT_EQ(QTInsertChild(settings.c, sound, FOUR_CHAR_CODE("ssrt"), 0, 1, 4, rate, nullptr), 0);
    Kelvo_SndDesc d(settings.c);
    EXPECT_EQ(d.Error(), 0);
    EXPECT_EQ(d.dataFormat(), 0u);
    EXPECT_EQ(d.qtSndBits(), 0);
    EXPECT_EQ(d.qtSndChannels(), 0);
    EXPECT_EQ(d.qtSndRate(), 8000);

    // A value longer than its field is read only up to the field's size.
    const uint8_t longChannels[] = {0x00, 0x06, 0xEE, 0xEE};
    ASSERT_EQ(QTInsertChild(settings.c, sound, FOUR_CHAR_CODE("sscc"), 0, 1, 4, longChannels, nullptr), 0);
    Kelvo_SndDesc six(settings.c);
    EXPECT_EQ(six.qtSndChannels(), 6);

    Container empty;
    Kelvo_SndDesc noSound(empty.c);
    EXPECT_EQ(noSound.Error(), -2101);
    EXPECT_TRUE(noSound.qtObjIsValid()); // the new description stays
}

// ---------------------------------------------------------------------------------------------
// Sound descriptions through their properties

TEST(SoundDescriptionProperties, StreamAndCookieComeOut) {
    Kelvo_SndDesc d;
    SoundProperties props(d.handle());
    const AudioStreamBasicDescription asbd = pcm(32000.0, 2, 16);
    const uint8_t cookie[] = {9, 8, 7};
    props.give(FOUR_CHAR_CODE("asbd"), &asbd, sizeof asbd);
    props.give(FOUR_CHAR_CODE("kuki"), cookie, sizeof cookie);
    const uint32_t bitRate = 1024000;
    props.give(FOUR_CHAR_CODE("brat"), &bitRate, sizeof bitRate);

    std::unique_ptr<Kelvo_AudioStreamDescriptor> s(d.dataStreamDesc());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::memcmp(s->streamDescription(), &asbd, sizeof asbd), 0);
    EXPECT_EQ(bytesOf(s->formatMagicCookie()), std::vector<uint8_t>(cookie, cookie + 3));
    EXPECT_EQ(d.bitRate(), bitRate);

    // Applying a stream sets the fields and the cookie.
    AudioStreamBasicDescription other = pcm(11025.0, 1, 8);
    other.mFormatID = FOUR_CHAR_CODE("raw ");
    Kelvo_AudioStreamDescriptor in(&other);
    const uint8_t newCookie[] = {1, 1, 1};
    in.formatMagicCookie(newCookie, 3);
    EXPECT_EQ(d.dataStreamDesc(&in), 0);
    EXPECT_EQ(d.dataFormat(), FOUR_CHAR_CODE("raw "));
    EXPECT_EQ(d.qtSndRate(), 11025);
    EXPECT_EQ(d.qtSndChannels(), 1);
    EXPECT_EQ(d.qtSndBits(), 8);
    std::unique_ptr<Kelvo_AudioStreamDescriptor> again(d.dataStreamDesc());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(bytesOf(again->formatMagicCookie()), std::vector<uint8_t>(newCookie, newCookie + 3));

    // An invalid stream changes nothing.
    Kelvo_AudioStreamDescriptor invalid(nullptr);
    EXPECT_EQ(d.dataStreamDesc(&invalid), -50);
    EXPECT_EQ(d.dataFormat(), FOUR_CHAR_CODE("raw "));
    EXPECT_EQ(d.qtSndRate(), 11025);
    EXPECT_EQ(d.dataStreamDesc(nullptr), -108);
}

TEST(SoundDescriptionProperties, LayoutAndSummary) {
    Kelvo_SndDesc d;
    SoundProperties props(d.handle());
    Kelvo_AudioChannelLayout layout;
    layout.useDescriptionsForMapping(true);
    layout.addDescription(channel(1, 0, 0, 0, 0));
    layout.addDescription(channel(2, 0, 0, 0, 0));
    Handle bytes = layout.channelLayout();
    props.give(FOUR_CHAR_CODE("clay"), *bytes, uint32_t(GetHandleSize(bytes)));

    std::unique_ptr<Kelvo_AudioChannelLayout> out(d.channelLayout());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->channelsCount(), 2u);
    Handle outBytes = out->channelLayout();
    EXPECT_EQ(bytesOf(outBytes), bytesOf(bytes));
    DisposeHandle(outBytes);

    // Setting a layout of the same size replaces it.
    auto* second =
        static_cast<Kelvo_AudioChannelDescription*>(layout.channelDescriptions().getObjValueByRef(1));
    second->label(42);
    EXPECT_EQ(d.channelLayout(&layout), 0);
    std::unique_ptr<Kelvo_AudioChannelLayout> replaced(d.channelLayout());
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(static_cast<Kelvo_AudioChannelDescription*>(replaced->channelDescriptions().getObjValueByRef(1))
                  ->label(),
              42u);

    // A value that counts more descriptions than it holds is refused, not read past its end.
    uint32_t lying[3] = {0, 0, 1000};
    props.give(FOUR_CHAR_CODE("clay"), lying, sizeof lying);
    EXPECT_EQ(d.channelLayout(), nullptr);
    EXPECT_EQ(d.Error(), kQTPropertyBadValueSizeErr);
    // So is a stream description of another size.
    const uint8_t shortAsbd[8] = {};
    props.give(FOUR_CHAR_CODE("asbd"), shortAsbd, sizeof shortAsbd);
    EXPECT_EQ(d.dataStreamDesc(), nullptr);
    EXPECT_EQ(d.Error(), kQTPropertyBadValueSizeErr);

    CFStringRef text =
        CFStringCreateWithCString(nullptr, "16-bit Integer, Stereo, 44.100 kHz", kCFStringEncodingMacRoman);
    props.give(FOUR_CHAR_CODE("text"), &text, sizeof text,
               kReadWrite | kComponentPropertyFlagValueMustBeReleased);
    char* summary = nullptr;
    EXPECT_EQ(d.settingsToString(summary), 0);
    ASSERT_NE(summary, nullptr);
    EXPECT_STREQ(summary, "16-bit Integer, Stereo, 44.100 kHz");
    delete[] summary;
    DisposeHandle(bytes);
}

TEST(SoundDescriptionProperties, MissingPropertiesGiveTheirStatus) {
    Kelvo_SndDesc d;
    EXPECT_EQ(d.dataStreamDesc(), nullptr);
    EXPECT_EQ(d.Error(), kQTPropertyNotSupportedErr);
    EXPECT_EQ(d.channelLayout(), nullptr);
    char* text = reinterpret_cast<char*>(1);
    EXPECT_EQ(d.settingsToString(text), kQTPropertyNotSupportedErr);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(d.bitRate(), 0u);

    Kelvo_SndDesc none(static_cast<Media>(nullptr), 1);
    EXPECT_EQ(none.dataStreamDesc(), nullptr);
    EXPECT_EQ(none.Error(), -108); // no description to ask
}
