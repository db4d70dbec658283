#include "KelvoProperties.h"

#include "PlatformCompressionOptions.h"
#include "PlatformCompressionSessions.h"
#include "PlatformImageDescriptions.h"
#include "PlatformObjects.h"

Kelvo_PropertyComponent::Kelvo_PropertyComponent(ComponentInstance instance, uint32_t propClass)
    : KelvoPropertyT(instance, propClass, QTGetComponentPropertyInfo, QTGetComponentProperty,
                     QTSetComponentProperty, badComponentInstance) {}
Kelvo_PropertyComponent::~Kelvo_PropertyComponent() = default;

Kelvo_PropertyImageDesc::Kelvo_PropertyImageDesc(ImageDescriptionHandle desc)
    : KelvoPropertyT(desc, FOUR_CHAR_CODE("idsc"), ICMImageDescriptionGetPropertyInfo,
                     ICMImageDescriptionGetProperty, ICMImageDescriptionSetProperty, memFullErr) {}
Kelvo_PropertyImageDesc::~Kelvo_PropertyImageDesc() = default;

Kelvo_PropertySoundDesc::Kelvo_PropertySoundDesc(SoundDescriptionHandle desc)
    : KelvoPropertyT(desc, FOUR_CHAR_CODE("sdes"), QTSoundDescriptionGetPropertyInfo,
                     QTSoundDescriptionGetProperty, QTSoundDescriptionSetProperty, memFullErr) {}
Kelvo_PropertySoundDesc::~Kelvo_PropertySoundDesc() = default;

Kelvo_PropertyMovie::Kelvo_PropertyMovie(Movie movie, uint32_t propClass)
    : KelvoPropertyT(movie, propClass, QTGetMoviePropertyInfo, QTGetMovieProperty, QTSetMovieProperty,
                     invalidMovie) {}
Kelvo_PropertyMovie::~Kelvo_PropertyMovie() = default;

Kelvo_PropertyTrack::Kelvo_PropertyTrack(Track track, uint32_t propClass)
    : KelvoPropertyT(track, propClass, QTGetTrackPropertyInfo, QTGetTrackProperty, QTSetTrackProperty,
                     invalidTrack) {}
Kelvo_PropertyTrack::~Kelvo_PropertyTrack() = default;

Kelvo_PropertyImageCompressionOptions::Kelvo_PropertyImageCompressionOptions(
    ICMCompressionSessionOptionsRef options)
    : KelvoPropertyT(options, FOUR_CHAR_CODE("icso"), ICMCompressionSessionOptionsGetPropertyInfo,
                     ICMCompressionSessionOptionsGetProperty, ICMCompressionSessionOptionsSetProperty,
                     paramErr) {}
Kelvo_PropertyImageCompressionOptions::~Kelvo_PropertyImageCompressionOptions() = default;

Kelvo_PropertyImageCompression::Kelvo_PropertyImageCompression(ICMCompressionSessionRef session)
    : KelvoPropertyT(session, FOUR_CHAR_CODE("icse"), ICMCompressionSessionGetPropertyInfo,
                     ICMCompressionSessionGetProperty, ICMCompressionSessionSetProperty, paramErr) {}
Kelvo_PropertyImageCompression::~Kelvo_PropertyImageCompression() = default;

Kelvo_PropertySampleTable::Kelvo_PropertySampleTable(QTSampleTableRef table)
    : KelvoPropertyT(table, FOUR_CHAR_CODE("qtst"), QTSampleTableGetPropertyInfo, QTSampleTableGetProperty,
                     QTSampleTableSetProperty, paramErr) {}
Kelvo_PropertySampleTable::~Kelvo_PropertySampleTable() = default;
