/* The Today screen's plug-in contract on this desktop: the record a host
 * passes to an item library, the messages it sends to the item's window, and
 * the two entries an item library exports by name. A window is a QWidget of
 * the host's toolkit, passed as an opaque pointer; a device context is the
 * QPainter of the paint in progress. */
#ifndef MORROW_TODAY_H
#define MORROW_TODAY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* TodayWindow;

typedef struct TodayRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} TodayRect;

/* One item of the Today list, owned by the host. */
typedef struct TODAYLISTITEM {
    char szName[260];
    uint32_t tlit;    /* item type; 1 = a custom item from a library */
    uint32_t dwOrder; /* position in the list */
    uint32_t cyp;     /* height in pixels, reported by the item */
    int32_t fEnabled; /* 0: the user switched the item off */
    int32_t fOptions; /* 1: the item has an options dialog */
    uint32_t grfFlags;
    char szDLLPath[260];
    void* hinstDLL;         /* the library's handle from dlopen */
    TodayWindow hwndCustom; /* the item's window, once created */
    int32_t fSizeOnDraw;
} TODAYLISTITEM;

/* Parameters of TODAYM_DRAWWATERMARK: where the host draws its watermark. */
typedef struct TODAYDRAWWATERMARKINFO {
    void* hdc;        /* QPainter* of the item's paint */
    TodayRect rc;     /* in the item's client coordinates */
    TodayWindow hwnd; /* the item's window */
} TODAYDRAWWATERMARKINFO;

/* Window messages. For WM_LBUTTONUP, lparam holds x in its low and y in its
 * high 16 bits (signed); for WM_ERASEBKGND, wparam is the device context. */
#define TODAY_WM_PAINT 0x000Fu
#define TODAY_WM_ERASEBKGND 0x0014u
#define TODAY_WM_LBUTTONUP 0x0202u
#define TODAY_WM_USER 0x0400u
/* Item to host: lparam points to a TODAYDRAWWATERMARKINFO. */
#define TODAYM_DRAWWATERMARK (TODAY_WM_USER + 101u)
/* Host to item: forget cached data. */
#define WM_TODAYCUSTOM_CLEARCACHE (TODAY_WM_USER + 242u)
/* Host to item, wparam = TODAYLISTITEM*: result 1 when the item changed
 * (and wrote its height into cyp), 0 when nothing changed. */
#define WM_TODAYCUSTOM_QUERYREFRESHCACHE (TODAY_WM_USER + 243u)

/* The entries, looked up by name with dlsym. */
#define TODAY_INIT_ENTRY "InitializeCustomItem"
#define TODAY_OPTIONS_ENTRY "CustomItemOptionsDlgProc"

/* Creates the item's window as a child of `parent`; NULL when the item is
 * disabled or cannot be created. */
typedef TodayWindow (*TodayInitializeFn)(TODAYLISTITEM* item, TodayWindow parent);
/* The options dialog procedure; nonzero when it handled the message. */
typedef int (*TodayOptionsDlgProcFn)(TodayWindow dialog, uint32_t message, uintptr_t wparam,
                                     intptr_t lparam);

#ifdef __cplusplus
}
#endif

#endif /* MORROW_TODAY_H */
