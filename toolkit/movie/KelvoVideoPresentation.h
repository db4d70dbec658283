// The video presentation: the abstract picture side of the presentation family. It keeps an
// offscreen copy of the current frame (the data-source buffer, filled by the subclass), a
// destination (a caller's port, a caller's offscreen world, or an offscreen world of its own), a
// display transform from the frame to the destination, and a brightness and contrast ('brco')
// effect through which every frame is drawn. On top of that: full-screen display with keyboard
// control, frame grabs with or without the effect, and export of the presentation to a new
// movie file through a compressing track provider.
//
// The companion plug-in drives presentations through the virtual operations below, so their
// order is part of the interface.
#pragma once

#include "KelvoCoreGraphics.h"
#include "KelvoDataPresentation.h"
#include "KelvoGraphicsDisplay.h"
#include "PlatformAtoms.h"
#include "PlatformEvents.h"
#include "PlatformFiles.h"
#include "PlatformMemory.h"
#include "PlatformObjects.h"

#include <cstdint>
#include <memory>
#include <vector>

class Kelvo_Image;
class Kelvo_ImgDesc;
class Kelvo_ImgDescComp;
class Kelvo_ISEffectDecompressionSession;
class Kelvo_Movie;
class Kelvo_OSType;
class Kelvo_QDGWorldBuffer;
class Kelvo_TimeRange;
class Kelvo_TrackVideoProvider;

// Key codes of the full-screen keyboard control (the platform's virtual key codes).
enum : uint32_t {
    kKelvoKeyEscape = 53,
    kKelvoKeySpace = 49,
    kKelvoKeyF8 = 100,
    kKelvoKeyPageUp = 116,
    kKelvoKeyF7 = 98,
    kKelvoKeyPageDown = 121,
    kKelvoKeyF9 = 101,
    kKelvoKeyLeftArrow = 123,
    kKelvoKeyRightArrow = 124
};

// What full screen keeps while it is on: the window, the platform's restore state, and the
// destination to go back to.
struct Kelvo_FullScreenRecord {
    WindowRef window = nullptr;
    Ptr restoreState = nullptr;
    Kelvo_Rect savedDisplayRect;
    // The caller's port the display wrapped before full screen; null when it was an own world.
    GrafPtr savedPort = nullptr;
};

class Kelvo_VideoPresentation : public Kelvo_DataPresentation {
  public:
    Kelvo_VideoPresentation();
    Kelvo_VideoPresentation(const Kelvo_VideoPresentation&) = delete;
    Kelvo_VideoPresentation& operator=(const Kelvo_VideoPresentation&) = delete;
    // Ends full screen, then lets go of the effect, the buffers and the transform.
    ~Kelvo_VideoPresentation() override;

    const char* qtObjName() const override { return "Kelvo_VideoPresentation"; }
    // A data source, a data-source buffer and a display transform.
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override;
    bool isA(const char* name) const override;

    // Virtual operations after those of the data presentation, in slot order.
    // Copies `t` into the display transform, keeping the source inside the frame, the destination
    // on the display rect and a clip; -108 without a display transform, -50 for a null `t`.
    virtual void updateParams(Kelvo_DisplayTransform* t);
    // Draws from now on into `port` (wrapped, not owned) or, without one, into an own 32-bit
    // world; `rect` (when valid), else the port's bounds, else the frame is where frames go.
    virtual void displaySetUp(GrafPtr port, Kelvo_Rect* rect);
    // Readies the effect session on `desc` (the effect's description) and the display.
    virtual void setUpDataPlayer(Kelvo_ImgDesc& desc);
    // (Re)makes the brightness and contrast effect for the data-source buffer; 79 without one.
    virtual void initDataPlayer();
    // Opens a new movie file and a compressing video provider whose world the display now draws
    // into; on success both outputs are the caller's.
    virtual void prepareOutputMovie(FSSpec* file, Kelvo_ImgDescComp* desc, Kelvo_Movie*& movie,
                                    Kelvo_TrackVideoProvider*& provider);
    // Installs the keyboard and mouse handler on the full-screen window.
    virtual void FullScreenLoop();
    // Gamma and colour discarding of the display transform into the data-source world, then the
    // frame through the effect into the destination ('DRAW').
    virtual void drawToDisplay();
    // The platform window's port (null window: an own world).
    virtual void ShowWithin(void* window, Kelvo_Rect* rect);
    virtual void ShowWithinGWorld(GrafPtr port, Kelvo_Rect* rect);
    // Takes the main screen and draws there ('FSTR'); `loop` installs the keyboard handler.
    virtual void FullScreenStart(Kelvo_Rect* rect, bool loop);
    // Gives the screen back and draws where it drew before ('FSTP').
    virtual void FullScreenStop();
    // updateParams(t), then the transform to the effect and a redraw.
    virtual void displayProperties(Kelvo_DisplayTransform* t);
    // A new copy of the display transform (the caller owns it), or null.
    virtual Kelvo_DisplayTransform* displayProperties();
    // The effect's parameters, stored as 32-bit big-endian values in its description.
    virtual int32_t brightness();
    virtual void brightness(int32_t value);
    virtual int32_t contrast();
    virtual void contrast(int32_t value);
    virtual GWorldPtr dataSourceGraphics();
    virtual GWorldPtr displayGraphics();
    // Fit the frame into the display rect keeping its proportions (on at construction).
    virtual bool autoScale() const;
    virtual void autoScale(bool on);
    // New buffers and images that the caller owns: the current frame through `t`, without or
    // with the effect.
    virtual Kelvo_QDGWorldBuffer* grabFrame(Kelvo_DisplayTransform* t);
    virtual Kelvo_QDGWorldBuffer* grabFrameAndEffect(Kelvo_DisplayTransform* t);
    virtual Kelvo_Image* grabRawImage(Kelvo_DisplayTransform* t, Kelvo_OSType& pixelType);
    virtual Kelvo_Image* grabRawImageAndEffect(Kelvo_DisplayTransform* t, Kelvo_OSType& pixelType);
    // Writes the samples of `range` (all of them without one) as frames of a new movie file,
    // reporting progress ('MPRG' or the progress notifier).
    virtual void presentationToMovie(FSSpec* file, Kelvo_ImgDescComp* desc, Kelvo_TimeRange* range);
    // Draws the current frame again.
    virtual void Update() = 0;

    // The handler of mouse-down and raw key-down events on the full-screen window.
    static OSStatus fullScreenEventHandler(EventHandlerCallRef call, EventRef event, void* presentation);

    // What the presentation holds, for its owner and its subclasses' callers.
    Kelvo_QDGWorldBuffer* dataSourceBuffer() const { return _dataSourceBuffer; }
    Kelvo_QDGWorldBuffer* displayBuffer() const { return _displayBuffer; }
    const Kelvo_Rect& displayRect() const { return _displayRect; }
    Kelvo_DisplayTransform* displayTransform() const { return _displayTransform; }
    QTAtomContainer effectDescription() const { return _effectDescription; }
    Kelvo_ISEffectDecompressionSession* effectSession() const { return _effectSession; }
    bool isFullScreen() const { return _fullScreen != nullptr; }
    WindowRef fullScreenWindow() const { return _fullScreen ? _fullScreen->window : nullptr; }

  protected:
    // Marks a stretch of code that sends events: when a receiver deletes the presentation
    // meanwhile, gone() turns true and the code must touch nothing of it any more. Scopes nest.
    class AliveScope {
      public:
        explicit AliveScope(Kelvo_VideoPresentation& presentation) : _alive(presentation._alive) {}
        bool gone() const { return !_alive || !*_alive; }

      private:
        std::shared_ptr<const bool> _alive;
    };

    // One export into a new movie file: the display and transform it redirects to the
    // provider's world, and the movie and provider it writes through (deleted with it).
    class MovieExport {
      public:
        explicit MovieExport(Kelvo_VideoPresentation& presentation);
        ~MovieExport();
        MovieExport(const MovieExport&) = delete;
        MovieExport& operator=(const MovieExport&) = delete;
        // Prepares the movie and provider; false when nothing can be written (the status says
        // why, and no destination is left on the provider's world) or the presentation is gone.
        bool begin(FSSpec* file, Kelvo_ImgDescComp* desc);
        // Ends the session, writes the movie, puts the display back; the status becomes the
        // outcome: the first failure of the samples, the session and the file.
        void finish();
        bool gone() const { return _alive.gone(); }
        Kelvo_TrackVideoProvider* provider() const { return _provider; }

      private:
        Kelvo_VideoPresentation& _presentation;
        AliveScope _alive;
        Kelvo_DisplayTransform _savedTransform;
        Kelvo_Rect _savedRect;
        GrafPtr _port;
        Kelvo_Movie* _movie = nullptr;
        Kelvo_TrackVideoProvider* _provider = nullptr;
    };

    // drawToDisplay's work: gamma and colour discarding into the data-source world, the frame
    // through the effect, then 'DRAW'. With `putFrameBack` the world's pixels are put back as they
    // were before 'DRAW' is sent, for subclasses whose frame is not drawn anew before each draw.
    void drawThroughEffect(bool putFrameBack);
    // Reports export progress through the events handler, else the progress notifier.
    void reportProgress(double progress);
    // The destination port when the display wraps a caller's one, else null.
    GrafPtr wrappedPort() const;
    // Sets the first child of `type` of the effect description to `value` (4 bytes big-endian);
    // the status of the write. The description stays unlocked while it changes.
    int32_t writeEffectParameter(uint32_t type, int32_t value);
    int32_t readEffectParameter(uint32_t type);

    EventHandlerUPP _fullScreenHandler = nullptr;
    Kelvo_QDGWorldBuffer* _dataSourceBuffer = nullptr;
    Kelvo_QDGWorldBuffer* _displayBuffer = nullptr;
    Kelvo_Rect _displayRect;
    Kelvo_DisplayTransform* _displayTransform = nullptr;
    QTAtomContainer _effectDescription = nullptr;
    Kelvo_ISEffectDecompressionSession* _effectSession = nullptr;
    Kelvo_FullScreenRecord* _fullScreen = nullptr;
    uint8_t _autoScale = 1;
    // Set by prepareOutputMovie once the display draws into its provider's world.
    bool _exportRedirected = false;

  private:
    // The effect session reads the description as flat bytes: refreshed after every change.
    int32_t flattenEffectDescription();
    void disposeEffectDescription();

    Handle _effectData = nullptr;
    // The effect's one source: the data-source world.
    GWorldPtr _effectSources[1] = {nullptr};
    // True while the presentation lives; code under way keeps a share (see AliveScope).
    std::shared_ptr<bool> _alive;
    // The frame as it was before drawThroughEffect adjusted it.
    std::vector<char> _unadjustedFrame;
};
