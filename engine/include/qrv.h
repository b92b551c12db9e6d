/*
 * qrv.h - the public interface of libqrv.so (qrvlib).
 *
 * qrvlib turns a photo and a painted 8-bit depth image into a relief that stands
 * out of the page, and draws it into a window the host owns.
 *
 * How a host draws a relief
 * -------------------------
 *  1. Fill a QrvWindow: `clientSize` tells the library how big the drawing area is,
 *     `present` receives every finished frame (0xFFRRGGBB pixels, top row first).
 *     `present` must not call back into the library.
 *  2. view = _QRV3DInit(&window, NULL, NULL) makes a ReliefView bound to the window.
 *  3. Read the depth image (a BMP file) into a movable memory block: GlobalAlloc
 *     the file size minus 14, copy the file's bytes from offset 14 into it (this is
 *     a "PackedDib": BITMAPINFOHEADER, colour table, pixel rows).
 *  4. _QRV3DGet3DImage(view, block, NULL, "/path/photo.jpg") builds the relief and
 *     loads the photo as its texture; the block may be freed afterwards.
 *  5. _QRV3DRender(view) draws one frame and hands it to window.present. Call it
 *     whenever the window needs painting; steer with _QRV3DMoveEye, _QRV3DEffect,
 *     _QRV3DFillMode and _QRV3DSetThreshold in between.
 *  6. _QRV3DTerm(view) once when done.
 *
 * Handle 1 selects the StandaloneEngine, a second, shader-based engine set up by
 * _QRV3DInit with shader file names. The _QRVMidi functions play Standard MIDI Files.
 *
 * What the library checks
 * -----------------------
 *  - It remembers the views it made. A handle that is not a live view (never made,
 *    or already passed to _QRV3DTerm) counts as handle 0: nothing happens, the
 *    HRESULT functions give E_INVALIDARG and _QRV3DRender gives false.
 *  - Every read of a depth image stays inside its block (GlobalSize). A block too
 *    short for its header and colour table counts as no depth image (the photo is
 *    drawn flat). 1-, 4- and 8-bit images take the average of blue, green and red
 *    of each pixel's colour-table entry, 24- and 32-bit images of the pixel itself;
 *    top-down images are read the right way up; pixels past the block's end read
 *    as 0.
 *  - A view whose device could not be made (no OpenGL) is still a view: it draws
 *    nothing and _QRV3DRender gives false.
 *
 * Every function runs on the caller's thread and returns when its work is done;
 * the library has no thread of its own for drawing. Nothing is thrown across this
 * interface.
 *
 * Hosts that import by ordinal (as the viewer does) take
 * qrvExportTable[ordinal - 1].function.
 */
#ifndef QRV_H
#define QRV_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(__GNUC__)
#define QRV_API __attribute__((visibility("default")))
#else
#define QRV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 0 none, 1 the StandaloneEngine, else a ReliefView made by _QRV3DInit. */
typedef intptr_t ViewHandle;
/* 0 none, else a MidiPlayer made by _QRVMidiInit. */
typedef intptr_t MidiHandle;

typedef int32_t HRESULT;
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_FAIL ((HRESULT)0x80004005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)

/* A movable memory block (see GlobalAlloc below). */
typedef void *HGLOBAL;

/* The window the library draws into. The host owns the record and keeps it alive
 * for as long as any view or player made for it exists. */
typedef struct QrvWindow {
    void *context; /* the host's own pointer, passed back to both callbacks */
    /* The size of the drawing area in pixels. */
    void (*clientSize)(void *context, int32_t *width, int32_t *height);
    /* A finished frame: pixels are 0xFFRRGGBB, top row first. */
    void (*present)(void *context, const uint32_t *pixels, int32_t width, int32_t height,
                    int32_t strideBytes);
} QrvWindow;
typedef QrvWindow *HWND;

/* ---- Movable memory blocks, with the Win32 meanings ---------------------------
 * A block made here may be locked by the library and by the host alike. Locking a
 * null, freed or foreign handle gives NULL and never crashes. */
#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)

QRV_API HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes);
QRV_API void *GlobalLock(HGLOBAL block);
/* Non-zero while the block is still locked after this call. */
QRV_API int32_t GlobalUnlock(HGLOBAL block);
/* NULL on success, else the handle itself. */
QRV_API HGLOBAL GlobalFree(HGLOBAL block);
/* The block's size in bytes, 0 for a null, freed or foreign handle. */
QRV_API size_t GlobalSize(HGLOBAL block);

/* ---- The exports, in ordinal order --------------------------------------------
 * Ordinals 1 (MoveTest) and 2 (_QRV3DRestoreDevice) have C++ linkage and are
 * declared below the C block. */

/* 3: true (the StandaloneEngine always runs windowed). */
QRV_API bool _IsWindowMode(void);
/* 4: the StandaloneEngine's Windowed present parameter; 0 before its set-up. */
QRV_API int32_t _IsWindowed(void);
/* 5: new back-buffer size of the StandaloneEngine (the handle is ignored). */
QRV_API HRESULT _QRV3DChangeWindowSize(ViewHandle view, int32_t width, int32_t height,
                                       bool reset);
/* 6: type 1 turns the relief on (value != 0) or off; type 2 sets the pop-up
 * percentage to 100 - value (applied at the next _QRV3DGet3DImage). */
QRV_API void _QRV3DEffect(ViewHandle view, int32_t type, int32_t value);
/* 7: switches between textured solid drawing and the wire frame. */
QRV_API void _QRV3DFillMode(ViewHandle view);
/* 8: builds the relief from a depth image (PackedDib block, may be NULL) and the
 * photo file, and loads the photo as its texture. colourDib is used by handle 1. */
QRV_API HRESULT _QRV3DGet3DImage(ViewHandle view, HGLOBAL depthDib, HGLOBAL colourDib,
                                 const char *photoPath);
/* 9: both file names NULL: a new ReliefView for window. Otherwise sets up the
 * StandaloneEngine with the two shader files and returns 1, or 0 on failure. */
QRV_API ViewHandle _QRV3DInit(HWND window, const char *vertexShaderFile,
                              const char *pixelShaderFile);
/* 10: does nothing; S_OK. */
QRV_API HRESULT _QRV3DLoadMesh(void);
/* 11: moves the eye: dx, dy over the eye's sphere, dz nearer (> 0) or farther. */
QRV_API void _QRV3DMoveEye(ViewHandle view, float dx, float dy, float dz);
/* 12: reads a q3d model file into the view. */
QRV_API HRESULT _QRV3DReadQ3DFile(ViewHandle view, const char *path);
/* 13: draws one frame and presents it; false when no new frame reached the window. */
QRV_API bool _QRV3DRender(ViewHandle view);
/* 14: replaces the view's texture with the picture file at path. */
QRV_API HRESULT _QRV3DSetTexture(ViewHandle view, const char *path);
/* 15: depth jumps above level (0..255) tear the relief apart. */
QRV_API void _QRV3DSetThreshold(ViewHandle view, int32_t level);
/* 16: flat (1) or Gouraud (2) shading of the StandaloneEngine (handle ignored). */
QRV_API void _QRV3DShadeMode(ViewHandle view, int32_t mode);
/* 17: ends a view (or tears down the StandaloneEngine for handle 1). */
QRV_API void _QRV3DTerm(ViewHandle view);
/* 18: writes a q3d model file from a depth image (and a colour image for handle 1). */
QRV_API HRESULT _QRV3DWriteQ3DFile(ViewHandle view, HGLOBAL depthDib, HGLOBAL colourDib,
                                   const char *path);
/* 19: the playing position in whole quarter notes. */
QRV_API int32_t _QRVMidiGetPos(MidiHandle player);
/* 20: a player for a Standard MIDI File; NULL only when memory runs out. */
QRV_API MidiHandle _QRVMidiInit(HWND window, const char *midiFile);
/* 21: plays from quarter note start (negative: from the last start point). */
QRV_API void _QRVMidiPlay(MidiHandle player, int32_t start);
/* 22: scales the playing speed (1.0 as written). */
QRV_API void _QRVMidiTempoChange(MidiHandle player, float tempo);
/* 23: stops the music and frees the player. */
QRV_API void _QRVMidiTerm(MidiHandle player);

/* The exports by ordinal: qrvExportTable[ordinal - 1]. */
typedef struct QrvExport {
    int32_t ordinal;
    const char *name; /* the exported symbol name (mangled for ordinals 1 and 2) */
    const void *function;
} QrvExport;
#define QRV_EXPORT_COUNT 23
QRV_API extern const QrvExport qrvExportTable[QRV_EXPORT_COUNT];

#ifdef __cplusplus
} /* extern "C" */

/* 1: true when x, y lies inside the StandaloneEngine eye's sphere. */
QRV_API bool MoveTest(float x, float y);
/* 2: recovers the StandaloneEngine's lost device; *ok tells the host whether to
 * keep drawing. */
QRV_API HRESULT _QRV3DRestoreDevice(bool *ok);
#endif

#endif /* QRV_H */
