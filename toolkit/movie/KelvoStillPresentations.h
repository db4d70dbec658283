// Presentations of one picture: the still-image presentation shows a picture taken from a
// graphics port or a toolkit image (a copy it owns), the buffer presentation one offscreen buffer
// that the caller keeps. Both draw through the brightness and contrast effect of the video
// presentation; time does not move for them.
//
// The companion plug-in drives presentations through the virtual operations below, so their
// order is part of the interface.
#pragma once

#include "KelvoVideoPresentation.h"

// The play operations of a presentation of one picture: its time does not move, so playing,
// stopping and stepping do nothing. Adds no virtual operation of its own.
class KelvoOnePicturePresentation : public Kelvo_VideoPresentation {
  public:
    bool isDone() override { return true; }
    bool isPlaying() override { return false; }
    // A single picture has no play statistics.
    void statisticsEnabled(bool&) override {}
    int32_t Time(int32_t) override { return 0; }
    int32_t SamplesCount() override { return qtObjIsValid() ? 1 : 0; }
    void Play(double) override {}
    void Stop() override {}
    void PlayAction(int32_t) override {}
    void PlayTime(int32_t) override {}
};

class Kelvo_StillImagePresentation : public KelvoOnePicturePresentation {
  public:
    // Empty: setSource gives it its picture.
    Kelvo_StillImagePresentation() = default;
    ~Kelvo_StillImagePresentation() override;

    const char* qtObjName() const override { return "Kelvo_StillImagePresentation"; }
    bool isA(const char* name) const override;
    // Empties the presentation (reset()).
    void defaultStatus() override;

    // Rebuilds the frame when a redraw is pending, then draws it ('DRAW' with the status).
    void drawToDisplay() override;
    // updateParams(t), then a redraw that rebuilds the frame through the new transform.
    void displayProperties(Kelvo_DisplayTransform* t) override;
    using Kelvo_VideoPresentation::displayProperties;
    // One sample: the picture (600 units long when the description gives no frame duration).
    void presentationToMovie(FSSpec* file, Kelvo_ImgDescComp* desc, Kelvo_TimeRange* range) override;
    void Update() override;

    // Virtual operations added, in slot order.
    // No picture, no frame, the effect session ended.
    virtual void reset();
    // The frame again from the picture as handed in, with the effect made anew and the display
    // transform's gamma and colour discarding applied.
    virtual void refresh();
    void idle() override;

    // The picture: a 32-bit copy of the port's, or the image rendered (79 for none).
    void setSource(GrafPtr port);
    void setSource(Kelvo_Image* image);
    // Takes a new frame from the picture and draws it when there is a display.
    void sourceChanged();
    // Writes both effect parameters when either is not 0.
    void restoreBrightnessAndCostrast(int32_t brightness, int32_t contrast);

    Kelvo_QDGWorldBuffer* sourceBuffer() const { return _sourceBuffer; }
    bool redrawPending() const { return _redrawPending != 0; }

  private:
    uint8_t _redrawPending = 0;
    Kelvo_QDGWorldBuffer* _sourceBuffer = nullptr;
};

class Kelvo_VideoBufferPresentation : public KelvoOnePicturePresentation {
  public:
    // Shows `buffer`, which stays the caller's; an invalid buffer leaves the presentation invalid.
    explicit Kelvo_VideoBufferPresentation(Kelvo_QDGWorldBuffer& buffer);
    // Lets go of the caller's buffer without deleting it.
    ~Kelvo_VideoBufferPresentation() override;

    const char* qtObjName() const override { return "Kelvo_VideoBufferPresentation"; }

    void Update() override { idle(); }
    // Draws the caller's buffer; gamma and colour discarding reach the display only, the
    // caller's pixels stay as they are.
    void drawToDisplay() override;

    // Virtual operation added.
    void idle() override;
};
