// gdi32 of winsim: one handle table for fonts, brushes and regions (with the handles deleted, so
// that a double delete shows), device contexts with their selected objects, exact rectangular
// regions, the areas filled, and text metrics derived from the font description.
#include <algorithm>
#include <cstring>

#include "winsim/internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

using Rects = std::vector<RECT>;

constexpr uintptr_t kStockBase = 0x00F00000;
constexpr int64_t kMaxRegionCoord = 1 << 27;  // GDI's coordinate space

bool IsStockHandle(uintptr_t h) { return h >= kStockBase && h < kStockBase + 4 * 32 && h % 4 == 0; }

LOGFONTW FontDescription(const wchar_t* face, LONG height, LONG weight) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  for (int i = 0; face[i] && i < LF_FACESIZE - 1; ++i) lf.lfFaceName[i] = face[i];
  return lf;
}

// The stock objects, made on first use; DeleteObject leaves them.
HGDIOBJ Stock(int i) {
  GdiObject o;
  o.stock = true;
  switch (i) {
    case WHITE_BRUSH: o.kind = GdiKind::Brush, o.brush = {BS_SOLID, RGB(255, 255, 255), 0}; break;
    case LTGRAY_BRUSH: o.kind = GdiKind::Brush, o.brush = {BS_SOLID, RGB(192, 192, 192), 0}; break;
    case GRAY_BRUSH: o.kind = GdiKind::Brush, o.brush = {BS_SOLID, RGB(128, 128, 128), 0}; break;
    case DKGRAY_BRUSH: o.kind = GdiKind::Brush, o.brush = {BS_SOLID, RGB(64, 64, 64), 0}; break;
    case BLACK_BRUSH: o.kind = GdiKind::Brush, o.brush = {BS_SOLID, RGB(0, 0, 0), 0}; break;
    case NULL_BRUSH: o.kind = GdiKind::Brush, o.brush = {BS_NULL, 0, 0}; break;
    case SYSTEM_FONT: o.kind = GdiKind::Font, o.font = FontDescription(L"System", 16, FW_BOLD); break;
    case DEFAULT_GUI_FONT: o.kind = GdiKind::Font, o.font = FontDescription(L"MS Shell Dlg", -11, FW_NORMAL); break;
    default: return nullptr;
  }
  uintptr_t h = kStockBase + 4 * uintptr_t(i);
  P().gdi.emplace(h, o);
  return HGDIOBJ(h);
}

GdiObject* Object(HGDIOBJ h) {
  auto it = P().gdi.find(uintptr_t(h));
  return it == P().gdi.end() ? nullptr : &it->second;
}

GdiObject* Object(HGDIOBJ h, GdiKind kind) {
  GdiObject* o = Object(h);
  return o && o->kind == kind ? o : nullptr;
}

DeviceContext* Context(HDC dc) {
  auto it = P().dcs.find(uintptr_t(dc));
  return it == P().dcs.end() ? nullptr : &it->second;
}

HGDIOBJ NewObject(const GdiObject& o) {
  uintptr_t h = P().NewHandle();
  P().gdi[h] = o;
  return HGDIOBJ(h);
}

// ---- Regions: disjoint rectangles in y-x bands, the same set always the same list ----

bool Covers(const Rects& rs, LONG x0, LONG y0, LONG x1, LONG y1) {
  for (const RECT& r : rs)
    if (r.left <= x0 && x1 <= r.right && r.top <= y0 && y1 <= r.bottom) return true;
  return false;
}

bool Take(int mode, bool a, bool b) {
  switch (mode) {
    case RGN_AND: return a && b;
    case RGN_OR: return a || b;
    case RGN_XOR: return a != b;
    case RGN_DIFF: return a && !b;
    default: return a;  // RGN_COPY
  }
}

// The region `a` op `b`, cut along every edge of both and joined again into bands.
Rects Combine(const Rects& a, const Rects& b, int mode) {
  std::vector<LONG> xs, ys;
  for (const Rects* set : {&a, &b})
    for (const RECT& r : *set) {
      xs.push_back(r.left), xs.push_back(r.right);
      ys.push_back(r.top), ys.push_back(r.bottom);
    }
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  Rects out;
  std::vector<std::pair<LONG, LONG>> last;
  size_t lastStart = 0;
  LONG lastBottom = 0;
  for (size_t j = 0; j + 1 < ys.size(); ++j) {
    LONG y0 = ys[j], y1 = ys[j + 1];
    std::vector<std::pair<LONG, LONG>> spans;
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      LONG x0 = xs[i], x1 = xs[i + 1];
      if (!Take(mode, Covers(a, x0, y0, x1, y1), Covers(b, x0, y0, x1, y1))) continue;
      if (!spans.empty() && spans.back().second == x0) spans.back().second = x1;
      else spans.push_back({x0, x1});
    }
    if (spans.empty()) {
      last.clear();
      continue;
    }
    if (spans == last && lastBottom == y0) {
      for (size_t k = lastStart; k < out.size(); ++k) out[k].bottom = y1;
    } else {
      lastStart = out.size();
      for (const auto& [x0, x1] : spans) out.push_back(RECT{x0, y0, x1, y1});
      last = spans;
    }
    lastBottom = y1;
  }
  return out;
}

int Complexity(const Rects& r) { return r.empty() ? NULLREGION : r.size() == 1 ? SIMPLEREGION : COMPLEXREGION; }

LONG RegionCoord(int v) { return LONG(std::clamp<int64_t>(v, -kMaxRegionCoord, kMaxRegionCoord)); }

Rects RectRegion(int x1, int y1, int x2, int y2) {
  LONG l = RegionCoord(std::min(x1, x2)), r = RegionCoord(std::max(x1, x2));
  LONG t = RegionCoord(std::min(y1, y2)), b = RegionCoord(std::max(y1, y2));
  if (l == r || t == b) return {};
  return {RECT{l, t, r, b}};
}

// ---- Text metrics ----

// The cell of a font: lfHeight > 0 is the cell height itself; lfHeight < 0 is the character
// height, to which an internal leading of a quarter is added; 0 is the default cell of 16.
TEXTMETRICW Metrics(const LOGFONTW& lf) {
  int64_t cell, leading;
  if (lf.lfHeight > 0) {
    cell = std::min<int64_t>(lf.lfHeight, 16384);
    leading = cell / 5;
  } else if (lf.lfHeight < 0) {
    int64_t ch = std::min<int64_t>(-int64_t(lf.lfHeight), 16384);
    leading = ch / 4;
    cell = ch + leading;
  } else {
    cell = 16;
    leading = 3;
  }
  TEXTMETRICW tm{};
  tm.tmHeight = LONG(cell);
  tm.tmDescent = LONG(cell / 5);
  tm.tmAscent = LONG(cell - cell / 5);
  tm.tmInternalLeading = LONG(leading);
  tm.tmAveCharWidth = lf.lfWidth > 0 ? std::min<LONG>(lf.lfWidth, 16384) : std::max<LONG>(1, LONG(cell * 2 / 5));
  tm.tmMaxCharWidth = tm.tmAveCharWidth * 2;
  tm.tmWeight = lf.lfWeight ? lf.lfWeight : FW_NORMAL;
  tm.tmDigitizedAspectX = tm.tmDigitizedAspectY = 96;
  tm.tmFirstChar = 0x20;
  tm.tmLastChar = 0xFFFC;
  tm.tmDefaultChar = 0x1F;
  tm.tmBreakChar = 0x20;
  tm.tmItalic = lf.lfItalic ? 1 : 0;
  tm.tmUnderlined = lf.lfUnderline ? 1 : 0;
  tm.tmStruckOut = lf.lfStrikeOut ? 1 : 0;
  tm.tmPitchAndFamily = lf.lfPitchAndFamily;
  tm.tmCharSet = lf.lfCharSet;
  return tm;
}

std::string FaceName(const LOGFONTW& lf) {
  int n = 0;
  while (n < LF_FACESIZE && lf.lfFaceName[n]) ++n;
  return Utf8(lf.lfFaceName, n);
}

bool Selected(HGDIOBJ h) {
  for (const auto& [dc, c] : P().dcs)
    if (c.font == h || c.brush == h) return true;
  return false;
}

}  // namespace

namespace winsim::detail {

HDC NewDC(HWND window, bool paint) {
  uintptr_t h = P().NewHandle();
  P().dcs[h] = DeviceContext{window, paint, Stock(SYSTEM_FONT), Stock(WHITE_BRUSH)};
  return HDC(h);
}

// Ends a device context; an object of the program still selected into it is counted.
void EndDC(HDC dc) {
  DeviceContext* c = Context(dc);
  if (!c) return;
  for (HGDIOBJ h : {c->font, c->brush})
    if (!IsStockHandle(uintptr_t(h))) ++P().gdiFaults.releasedWithSelection;
  P().dcs.erase(uintptr_t(dc));
}

int TextHeight(HFONT font) {
  GdiObject* o = Object(font, GdiKind::Font);
  if (!o) o = Object(Stock(SYSTEM_FONT));
  return Metrics(o->font).tmHeight;
}

void RecordFill(HDC dc, const std::vector<RECT>& rects, COLORREF color) {
  DeviceContext* c = Context(dc);
  if (!c) return;
  P().fills.push_back(FillRecord{uint64_t(uintptr_t(dc)), uint64_t(uintptr_t(c->window)), rects, color});
}

bool BrushColor(HBRUSH brush, COLORREF& color) {
  uintptr_t v = uintptr_t(brush);
  if (v >= 1 && v <= COLOR_MENUBAR + 1) {
    color = SysColor(int(v) - 1);
    return true;
  }
  GdiObject* o = Object(brush, GdiKind::Brush);
  if (!o) return false;
  color = o->brush.lbColor;
  return true;
}

GdiBalance CountGdi(const Process& p) {
  GdiBalance b = p.gdiFaults;
  for (const auto& [h, o] : p.gdi) {
    if (o.stock) continue;
    if (o.kind == GdiKind::Font) ++b.fonts;
    else if (o.kind == GdiKind::Brush) ++b.brushes;
    else ++b.regions;
  }
  b.dcsNotReleased = int(p.dcs.size());
  return b;
}

}  // namespace winsim::detail

// ---- Objects ----

HFONT WINAPI CreateFontIndirectW(const LOGFONTW* lplf) {
  json args = lplf ? json{{"lfHeight", lplf->lfHeight}, {"lfWeight", lplf->lfWeight}, {"lfFaceName", FaceName(*lplf)}}
                   : json{{"lplf", nullptr}};
  if (Faulted("CreateFontIndirectW", args)) return nullptr;
  if (!lplf) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  GdiObject o;
  o.kind = GdiKind::Font;
  o.font = *lplf;  // all LF_FACESIZE characters, with or without a terminating NUL
  return HFONT(NewObject(o));
}

HBRUSH WINAPI CreateBrushIndirect(const LOGBRUSH* plbrush) {
  json args = plbrush ? json{{"lbStyle", plbrush->lbStyle}, {"lbColor", plbrush->lbColor}, {"lbHatch", plbrush->lbHatch}}
                      : json{{"plbrush", nullptr}};
  if (Faulted("CreateBrushIndirect", args)) return nullptr;
  if (!plbrush) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  GdiObject o;
  o.kind = GdiKind::Brush;
  o.brush = *plbrush;
  return HBRUSH(NewObject(o));
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
  if (Faulted("CreateSolidBrush", {{"color", color}})) return nullptr;
  GdiObject o;
  o.kind = GdiKind::Brush;
  o.brush = LOGBRUSH{BS_SOLID, color, 0};
  return HBRUSH(NewObject(o));
}

HRGN WINAPI CreateRectRgn(int x1, int y1, int x2, int y2) {
  if (Faulted("CreateRectRgn", {{"x1", x1}, {"y1", y1}, {"x2", x2}, {"y2", y2}})) return nullptr;
  GdiObject o;
  o.kind = GdiKind::Region;
  o.rects = RectRegion(x1, y1, x2, y2);
  return HRGN(NewObject(o));
}

HRGN WINAPI CreateRectRgnIndirect(const RECT* lprect) {
  json args = lprect ? json{{"left", lprect->left}, {"top", lprect->top}, {"right", lprect->right}, {"bottom", lprect->bottom}}
                     : json{{"lprect", nullptr}};
  if (Faulted("CreateRectRgnIndirect", args)) return nullptr;
  if (!lprect) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  GdiObject o;
  o.kind = GdiKind::Region;
  o.rects = RectRegion(lprect->left, lprect->top, lprect->right, lprect->bottom);
  return HRGN(NewObject(o));
}

int WINAPI OffsetRgn(HRGN hrgn, int x, int y) {
  if (Faulted("OffsetRgn", {{"hrgn", uintptr_t(hrgn)}, {"x", x}, {"y", y}})) return ERROR;
  GdiObject* o = Object(hrgn, GdiKind::Region);
  if (!o) {
    SetError(ERROR_INVALID_HANDLE);
    return ERROR;
  }
  for (const RECT& r : o->rects)
    if (std::max(std::abs(int64_t(r.left) + x), std::abs(int64_t(r.right) + x)) > kMaxRegionCoord ||
        std::max(std::abs(int64_t(r.top) + y), std::abs(int64_t(r.bottom) + y)) > kMaxRegionCoord)
      return ERROR;  // out of the coordinate space: the region stays
  for (RECT& r : o->rects) r.left += x, r.right += x, r.top += y, r.bottom += y;
  return Complexity(o->rects);
}

int WINAPI CombineRgn(HRGN hrgnDst, HRGN hrgnSrc1, HRGN hrgnSrc2, int iMode) {
  if (Faulted("CombineRgn", {{"hrgnDst", uintptr_t(hrgnDst)},
                              {"hrgnSrc1", uintptr_t(hrgnSrc1)},
                              {"hrgnSrc2", uintptr_t(hrgnSrc2)},
                              {"iMode", iMode}}))
    return ERROR;
  GdiObject* dst = Object(hrgnDst, GdiKind::Region);
  GdiObject* a = Object(hrgnSrc1, GdiKind::Region);
  GdiObject* b = iMode == RGN_COPY ? nullptr : Object(hrgnSrc2, GdiKind::Region);
  if (iMode < RGN_AND || iMode > RGN_COPY || !dst || !a || (iMode != RGN_COPY && !b)) {
    SetError(ERROR_INVALID_PARAMETER);
    return ERROR;
  }
  Rects result = Combine(a->rects, b ? b->rects : Rects{}, iMode);
  dst->rects = std::move(result);
  return Complexity(dst->rects);
}

int WINAPI GetRgnBox(HRGN hrgn, LPRECT lprc) {
  if (Faulted("GetRgnBox", {{"hrgn", uintptr_t(hrgn)}})) return ERROR;
  GdiObject* o = Object(hrgn, GdiKind::Region);
  if (!o || !lprc) return ERROR;
  RECT box{0, 0, 0, 0};
  if (!o->rects.empty()) {
    box = o->rects.front();
    for (const RECT& r : o->rects) {
      box.left = std::min(box.left, r.left), box.top = std::min(box.top, r.top);
      box.right = std::max(box.right, r.right), box.bottom = std::max(box.bottom, r.bottom);
    }
  }
  *lprc = box;
  return Complexity(o->rects);
}

BOOL WINAPI EqualRgn(HRGN hrgn1, HRGN hrgn2) {
  if (Faulted("EqualRgn", {{"hrgn1", uintptr_t(hrgn1)}, {"hrgn2", uintptr_t(hrgn2)}})) return ERROR;
  GdiObject* a = Object(hrgn1, GdiKind::Region);
  GdiObject* b = Object(hrgn2, GdiKind::Region);
  if (!a || !b) return ERROR;
  if (a->rects.size() != b->rects.size()) return FALSE;
  for (size_t i = 0; i < a->rects.size(); ++i) {
    const RECT &x = a->rects[i], &y = b->rects[i];
    if (x.left != y.left || x.top != y.top || x.right != y.right || x.bottom != y.bottom) return FALSE;
  }
  return TRUE;
}

BOOL WINAPI PtInRegion(HRGN hrgn, int x, int y) {
  if (Faulted("PtInRegion", {{"hrgn", uintptr_t(hrgn)}, {"x", x}, {"y", y}})) return FALSE;
  GdiObject* o = Object(hrgn, GdiKind::Region);
  if (!o) return FALSE;
  for (const RECT& r : o->rects)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return TRUE;
  return FALSE;
}

BOOL WINAPI FillRgn(HDC hdc, HRGN hrgn, HBRUSH hbr) {
  if (Faulted("FillRgn", {{"hdc", uintptr_t(hdc)}, {"hrgn", uintptr_t(hrgn)}, {"hbr", uintptr_t(hbr)}})) return FALSE;
  GdiObject* region = Object(hrgn, GdiKind::Region);
  GdiObject* brush = Object(hbr, GdiKind::Brush);
  if (!Context(hdc) || !region || !brush) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  RecordFill(hdc, region->rects, brush->brush.lbColor);
  return TRUE;
}

// FillRect is user32's; it takes a brush or a system colour (COLOR_xxx + 1).
int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
  if (Faulted("FillRect", {{"hDC", uintptr_t(hDC)}, {"hbr", uintptr_t(hbr)}})) return 0;
  COLORREF color;
  if (!Context(hDC) || !lprc || !BrushColor(hbr, color)) {
    SetError(ERROR_INVALID_HANDLE);
    return 0;
  }
  RecordFill(hDC, RectRegion(lprc->left, lprc->top, lprc->right, lprc->bottom), color);
  return 1;
}

// A handle already deleted or never made is refused and counted; a stock object stays.
BOOL WINAPI DeleteObject(HGDIOBJ ho) {
  if (Faulted("DeleteObject", {{"ho", uintptr_t(ho)}})) return FALSE;
  Process& p = P();
  uintptr_t h = uintptr_t(ho);
  if (!h) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto it = p.gdi.find(h);
  if (it == p.gdi.end()) {
    if (IsStockHandle(h)) return TRUE;
    if (p.deletedGdi.count(h)) ++p.gdiFaults.doubleDeletes;
    else ++p.gdiFaults.invalidDeletes;
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (it->second.stock) return TRUE;
  if (Selected(ho)) ++p.gdiFaults.deletedWhileSelected;
  p.gdi.erase(it);
  p.deletedGdi.insert(h);
  return TRUE;
}

HGDIOBJ WINAPI GetStockObject(int i) {
  if (Faulted("GetStockObject", {{"i", i}})) return nullptr;
  return Stock(i);
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
  if (Faulted("SelectObject", {{"hdc", uintptr_t(hdc)}, {"h", uintptr_t(h)}})) return nullptr;
  DeviceContext* c = Context(hdc);
  if (IsStockHandle(uintptr_t(h))) Stock(int((uintptr_t(h) - kStockBase) / 4));
  GdiObject* o = Object(h);
  if (!c || !o) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HGDIOBJ old;
  switch (o->kind) {
    case GdiKind::Font: old = c->font, c->font = h; return old;
    case GdiKind::Brush: old = c->brush, c->brush = h; return old;
    default: return HGDIOBJ(LONG_PTR(Complexity(o->rects)));  // a clipping region: its kind
  }
}

int WINAPI GetObjectW(HANDLE h, int c, LPVOID pv) {
  if (Faulted("GetObjectW", {{"h", uintptr_t(h)}, {"c", c}})) return 0;
  GdiObject* o = Object(h);
  if (!o || o->kind == GdiKind::Region) {
    SetError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const void* data = o->kind == GdiKind::Font ? static_cast<const void*>(&o->font) : &o->brush;
  int size = o->kind == GdiKind::Font ? int(sizeof(LOGFONTW)) : int(sizeof(LOGBRUSH));
  if (!pv) return size;
  if (c <= 0) return 0;
  int n = std::min(c, size);
  std::memcpy(pv, data, size_t(n));
  return n;
}

BOOL WINAPI GetTextMetricsW(HDC hdc, LPTEXTMETRICW lptm) {
  if (Faulted("GetTextMetricsW", {{"hdc", uintptr_t(hdc)}})) return FALSE;
  DeviceContext* c = Context(hdc);
  if (!c || !lptm) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  GdiObject* font = Object(c->font, GdiKind::Font);
  if (!font) font = Object(Stock(SYSTEM_FONT));  // the selected font was deleted meanwhile
  *lptm = Metrics(font->font);
  return TRUE;
}

HDC WINAPI GetDC(HWND hWnd) {
  if (Faulted("GetDC", {{"hWnd", uintptr_t(hWnd)}})) return nullptr;
  if (hWnd && !FindWindow(hWnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return NewDC(hWnd, false);
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC) {
  if (Faulted("ReleaseDC", {{"hWnd", uintptr_t(hWnd)}, {"hDC", uintptr_t(hDC)}})) return 0;
  DeviceContext* c = Context(hDC);
  if (!c || c->paint) return 0;
  EndDC(hDC);
  return 1;
}
