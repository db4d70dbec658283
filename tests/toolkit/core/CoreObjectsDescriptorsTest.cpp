#include "KelvoCoreObjectsDescriptors.h"

#include "PlatformMemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

// A description with an extension, as the image and sound descriptions make them.
class ExtendedDescriptor : public Kelvo_SmpDescriptor {
  public:
    explicit ExtendedDescriptor(const char* extension) {
        PtrToHand(extension, &_extension, Size(std::strlen(extension)));
    }
};

} // namespace

TEST(SampleDescriptor, NewDescriptionHoldsItsSize) {
    Kelvo_SmpDescriptor d(16);
    ASSERT_TRUE(d.qtObjIsValid());
    EXPECT_EQ(GetHandleSize(d.hdesc()), 16);
    EXPECT_EQ(d.descSize(), 16);
    EXPECT_EQ(d.dataFormat(), 0u);
    EXPECT_EQ(d.descIndex(), 0);
    for (int i = 4; i < 16; ++i)
        EXPECT_EQ((*d.hdesc())[i], 0);
    d.dataFormat(FOUR_CHAR_CODE("jpeg"));
    EXPECT_EQ(d.dataFormat(), FOUR_CHAR_CODE("jpeg"));
    EXPECT_EQ(d.descVersion(), 0);
    EXPECT_FALSE(d.hasExtension());
    EXPECT_EQ(d.qtObjReference(), static_cast<void*>(d.hdesc()));
    EXPECT_TRUE(d.isA("Kelvo_MediaDataDescriptor"));
    EXPECT_TRUE(d.isA("Kelvo_SmpDescriptor"));
    EXPECT_FALSE(d.isA("Kelvo_ImgDesc"));

    // Re-initialising releases the old description (the sanitizer build would see a leak).
    d.init();
    EXPECT_EQ(d.dataFormat(), 0u);

    // Sizes that leave no room for a field read as 0 and are never written past.
    Kelvo_SmpDescriptor tiny(2);
    EXPECT_EQ(GetHandleSize(tiny.hdesc()), 2);
    EXPECT_EQ(tiny.descSize(), 0);
    tiny.dataFormat(FOUR_CHAR_CODE("jpeg"));
    EXPECT_EQ(tiny.dataFormat(), 0u);
    Kelvo_SmpDescriptor none(-1);
    EXPECT_FALSE(none.qtObjIsValid());
    EXPECT_EQ(none.clone(), nullptr);
    EXPECT_EQ(none.dataFormat(), 0u);
}

TEST(SampleDescriptor, CopiesAreIndependent) {
    ExtendedDescriptor src("ext-bytes");
    src.dataFormat(FOUR_CHAR_CODE("raw "));
    Kelvo_SmpDescriptor copy(src);
    ASSERT_TRUE(copy.hasExtension());
    EXPECT_NE(copy.hdesc(), src.hdesc());
    EXPECT_NE(copy.hdescExtension(), src.hdescExtension());
    EXPECT_EQ(std::string(*copy.hdescExtension(), 9), "ext-bytes");
    src.dataFormat(FOUR_CHAR_CODE("jpeg"));
    EXPECT_EQ(copy.dataFormat(), FOUR_CHAR_CODE("raw "));

    std::unique_ptr<Kelvo_QTObj> clone(src.clone());
    auto* c = static_cast<Kelvo_SmpDescriptor*>(clone.get());
    EXPECT_EQ(c->dataFormat(), FOUR_CHAR_CODE("jpeg"));
    EXPECT_TRUE(c->hasExtension());

    Kelvo_SmpDescriptor assigned;
    assigned = src;
    EXPECT_EQ(assigned.dataFormat(), FOUR_CHAR_CODE("jpeg"));
    Handle ext = assigned.hdescExtensionCopy();
    ASSERT_NE(ext, nullptr);
    EXPECT_NE(ext, assigned.hdescExtension());
    DisposeHandle(ext);

    Kelvo_SmpDescriptor invalid(-1);
    Kelvo_SmpDescriptor target;
    EXPECT_FALSE(target.copy(static_cast<const Kelvo_SmpDescriptor&>(invalid)));
    EXPECT_EQ(target.Error(), 9);
    EXPECT_FALSE(target.copy(static_cast<const Kelvo_SmpDescriptor&>(target)));
}

TEST(SampleDescriptor, FromHandlesMediaAndChannels) {
    Kelvo_SmpDescriptor d;
    EXPECT_FALSE(d.copy(static_cast<SampleDescriptionHandle>(nullptr)));
    EXPECT_EQ(d.Error(), 79);
    SampleDescriptionHandle own = d.hSampleDesc();
    EXPECT_FALSE(d.copy(own));
    EXPECT_EQ(d.hSampleDesc(), own); // unchanged

    Handle h = NewHandleClear(24);
    int32_t size = 24;
    std::memcpy(*h, &size, 4);
    int16_t index = 3;
    std::memcpy(*h + 14, &index, 2);
    Kelvo_SmpDescriptor fromHandle(reinterpret_cast<SampleDescriptionHandle>(h));
    EXPECT_EQ(fromHandle.descSize(), 24);
    EXPECT_EQ(fromHandle.descIndex(), 3);
    EXPECT_EQ(fromHandle.descriptorSize(), 24);
    EXPECT_NE(fromHandle.hdesc(), h);
    SampleDescriptionHandle copy = fromHandle.hSampleDescCopy();
    EXPECT_EQ((*copy)->dataRefIndex, 3);
    DisposeHandle(reinterpret_cast<Handle>(copy));
    DisposeHandle(h);

    Kelvo_SmpDescriptor noMedia(static_cast<Media>(nullptr), 1);
    EXPECT_EQ(noMedia.Error(), -2008);
    Media media = platform::newDetachedMedia();
    Kelvo_SmpDescriptor detached(media, 1); // a media without descriptions
    EXPECT_FALSE(detached.qtObjIsValid());
    EXPECT_NE(detached.Error(), 0);
    platform::disposeMedia(media);

    Kelvo_SmpDescriptor noChannel(static_cast<SGChannel>(nullptr));
    EXPECT_EQ(noChannel.Error(), -50);
}
