// winsim's GDI: exact rectangular regions, the areas filled per device context, text metrics
// from the font description, and the handle table that shows leaks and double deletes.
#include "support.h"

using winsim::Machine;
using winsim::Session;

namespace {

using test::S;

std::vector<std::string> S(const std::vector<RECT>& rects) {
  std::vector<std::string> out;
  for (const RECT& r : rects) out.push_back(S(r));
  return out;
}

using Lines = std::vector<std::string>;

}  // namespace

// The region of 0..100 x 0..100 combined with a second rectangle: the exact area and its kind.
TEST(WinsimRegions, CombineGivesTheExactArea) {
  struct Row {
    const char* name;
    RECT second;
    int mode;
    int kind;
    Lines rects;
  } rows[] = {
      {"diff, partial overlap at the right", {80, 20, 150, 50}, RGN_DIFF, COMPLEXREGION,
       {"(0,0)-(100,20)", "(0,20)-(80,50)", "(0,50)-(100,100)"}},
      {"diff, contained", {10, 10, 20, 20}, RGN_DIFF, COMPLEXREGION,
       {"(0,0)-(100,10)", "(0,10)-(10,20)", "(20,10)-(100,20)", "(0,20)-(100,100)"}},
      {"diff, covering", {-5, -5, 105, 105}, RGN_DIFF, NULLREGION, {}},
      {"diff, disjoint", {200, 0, 300, 10}, RGN_DIFF, SIMPLEREGION, {"(0,0)-(100,100)"}},
      {"diff, a full-height strip", {0, 0, 30, 100}, RGN_DIFF, SIMPLEREGION, {"(30,0)-(100,100)"}},
      {"and", {50, 50, 150, 150}, RGN_AND, SIMPLEREGION, {"(50,50)-(100,100)"}},
      {"and, disjoint", {200, 0, 300, 10}, RGN_AND, NULLREGION, {}},
      {"or, side by side", {100, 0, 150, 100}, RGN_OR, SIMPLEREGION, {"(0,0)-(150,100)"}},
      {"or, overlapping", {50, 50, 150, 150}, RGN_OR, COMPLEXREGION,
       {"(0,0)-(100,50)", "(0,50)-(150,100)", "(50,100)-(150,150)"}},
      {"xor", {50, 0, 150, 100}, RGN_XOR, COMPLEXREGION, {"(0,0)-(50,100)", "(100,0)-(150,100)"}},
      {"copy", {50, 0, 150, 100}, RGN_COPY, SIMPLEREGION, {"(0,0)-(100,100)"}},
  };
  Machine m;
  Session s(m);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    HRGN a = CreateRectRgn(0, 0, 100, 100);
    HRGN b = CreateRectRgnIndirect(&r.second);
    EXPECT_EQ(CombineRgn(a, a, b, r.mode), r.kind);  // in place, as the background fill does it
    EXPECT_EQ(S(s.RegionRects(a)), r.rects);
    DeleteObject(a);
    DeleteObject(b);
  }
  EXPECT_TRUE(s.Gdi().Clean());
}

TEST(WinsimRegions, OffsetBoxAndCuttingTwoChildren) {
  Machine m;
  Session s(m);
  HRGN area = CreateRectRgn(0, 0, 200, 100);
  HRGN child = CreateRectRgn(110, 220, 160, 250);  // a child's screen rectangle
  EXPECT_EQ(OffsetRgn(child, -100, -200), SIMPLEREGION);
  RECT box;
  EXPECT_EQ(GetRgnBox(child, &box), SIMPLEREGION);
  EXPECT_EQ(S(box), "(10,20)-(60,50)");
  CombineRgn(area, area, child, RGN_DIFF);
  HRGN second = CreateRectRgn(150, 60, 250, 150);  // lies partly outside
  CombineRgn(area, area, second, RGN_DIFF);
  EXPECT_EQ(S(s.RegionRects(area)), (Lines{"(0,0)-(200,20)", "(0,20)-(10,50)", "(60,20)-(200,50)", "(0,50)-(200,60)",
                                         "(0,60)-(150,100)"}));
  EXPECT_TRUE(PtInRegion(area, 5, 30));
  EXPECT_FALSE(PtInRegion(area, 30, 30));
  HRGN same = CreateRectRgn(0, 0, 0, 0);
  CombineRgn(same, area, nullptr, RGN_COPY);
  EXPECT_TRUE(EqualRgn(same, area));
  EXPECT_EQ(CombineRgn(same, area, nullptr, RGN_DIFF), ERROR);
  for (HRGN r : {area, child, second, same}) DeleteObject(r);
}

// FillRgn records the region's rectangles and the brush colour for its device context.
TEST(WinsimGdi, FilledAreaPerDeviceContext) {
  Machine m;
  Session s(m);
  WNDCLASSW wc{};
  wc.lpszClassName = L"Plain";
  wc.lpfnWndProc = DefWindowProcW;
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, L"Plain", L"", WS_POPUP, 0, 0, 100, 50, nullptr, nullptr, nullptr, nullptr);
  HDC dc = GetDC(w);
  HDC other = GetDC(w);
  HRGN rgn = CreateRectRgn(0, 0, 100, 50);
  HRGN hole = CreateRectRgn(10, 10, 20, 20);
  CombineRgn(rgn, rgn, hole, RGN_DIFF);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  EXPECT_TRUE(FillRgn(dc, rgn, red));
  EXPECT_FALSE(FillRgn(dc, rgn, nullptr));
  std::vector<winsim::FillRecord> fills = s.FillsOf(dc);
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].color, RGB(255, 0, 0));
  EXPECT_EQ(fills[0].hwnd, uint64_t(uintptr_t(w)));
  EXPECT_EQ(S(fills[0].rects), (Lines{"(0,0)-(100,10)", "(0,10)-(10,20)", "(20,10)-(100,20)", "(0,20)-(100,50)"}));
  EXPECT_TRUE(s.FillsOf(other).empty());
  // A class brush: DefWindowProcW fills the client area and answers 1; without one it answers 0.
  EXPECT_EQ(SendMessageW(w, WM_ERASEBKGND, WPARAM(other), 0), 0);
  wc.lpszClassName = L"Brushed";
  wc.hbrBackground = HBRUSH(uintptr_t(COLOR_BTNFACE + 1));
  RegisterClassW(&wc);
  HWND brushed = CreateWindowExW(0, L"Brushed", L"", WS_POPUP, 0, 0, 30, 40, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(SendMessageW(brushed, WM_ERASEBKGND, WPARAM(other), 0), 1);
  ASSERT_EQ(s.FillsOf(other).size(), 1u);
  EXPECT_EQ(S(s.FillsOf(other)[0].rects), (Lines{"(0,0)-(30,40)"}));
  EXPECT_EQ(s.FillsOf(other)[0].color, GetSysColor(COLOR_BTNFACE));
  ReleaseDC(w, dc);
  ReleaseDC(w, other);
  for (HGDIOBJ o : {HGDIOBJ(rgn), HGDIOBJ(hole), HGDIOBJ(red)}) DeleteObject(o);
  EXPECT_TRUE(s.Gdi().Clean());
}

// The cell height: lfHeight > 0 is the cell; < 0 the character height plus a quarter of it as
// internal leading; 0 the default cell of 16. A DC starts with the system font (cell 16).
TEST(WinsimGdi, TextMetricsFromTheFont) {
  struct Row {
    LONG lfHeight;
    LONG tmHeight;
    LONG internalLeading;
  } rows[] = {{16, 16, 3}, {28, 28, 5}, {-12, 15, 3}, {-11, 13, 2}, {0, 16, 3}, {LONG(0x80000000), 20480, 4096}};
  Machine m;
  Session s(m);
  HDC dc = GetDC(nullptr);
  TEXTMETRICW tm{};
  ASSERT_TRUE(GetTextMetricsW(dc, &tm));
  EXPECT_EQ(tm.tmHeight, 16);
  HGDIOBJ systemFont = nullptr;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.lfHeight);
    LOGFONTW lf{};
    lf.lfHeight = r.lfHeight;
    lf.lfWeight = FW_BOLD;
    lf.lfCharSet = RUSSIAN_CHARSET;
    HFONT f = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(dc, f);
    if (!systemFont) systemFont = old;
    ASSERT_TRUE(GetTextMetricsW(dc, &tm));
    EXPECT_EQ(tm.tmHeight, r.tmHeight);
    EXPECT_EQ(tm.tmInternalLeading, r.internalLeading);
    EXPECT_EQ(tm.tmAscent + tm.tmDescent, tm.tmHeight);
    EXPECT_EQ(tm.tmWeight, FW_BOLD);
    EXPECT_EQ(tm.tmCharSet, RUSSIAN_CHARSET);
    EXPECT_EQ(SelectObject(dc, old), f);
    DeleteObject(f);
  }
  EXPECT_EQ(systemFont, GetStockObject(SYSTEM_FONT));
  ReleaseDC(nullptr, dc);
  EXPECT_TRUE(s.Gdi().Clean());
}

// A face name of 32 characters without a NUL is kept as it is; nothing reads past it.
TEST(WinsimGdi, FaceNameWithoutTerminator) {
  Machine m;
  Session s(m);
  LOGFONTW lf{};
  for (int i = 0; i < LF_FACESIZE; ++i) lf.lfFaceName[i] = WCHAR(L'A' + i % 26);
  HFONT f = CreateFontIndirectW(&lf);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(m.Calls("CreateFontIndirectW").back().args["lfFaceName"].get<std::string>().size(), 32u);
  LOGFONTW back{};
  EXPECT_EQ(GetObjectW(f, sizeof back, &back), int(sizeof back));
  EXPECT_EQ(std::wstring(back.lfFaceName, LF_FACESIZE), std::wstring(lf.lfFaceName, LF_FACESIZE));
  DeleteObject(f);
}

// Every object never deleted and every delete of a dead handle shows; stock objects stay.
TEST(WinsimGdi, BalanceShowsLeaksAndDoubleDeletes) {
  Machine m;
  Session s(m);
  LOGFONTW lf{};
  HFONT font = CreateFontIndirectW(&lf);
  LOGBRUSH lb{BS_SOLID, RGB(1, 2, 3), 0};
  HBRUSH brush = CreateBrushIndirect(&lb);
  HRGN region = CreateRectRgn(0, 0, 1, 1);
  winsim::GdiBalance b = s.Gdi();
  EXPECT_EQ(b.fonts, 1);
  EXPECT_EQ(b.brushes, 1);
  EXPECT_EQ(b.regions, 1);
  EXPECT_TRUE(DeleteObject(brush));
  EXPECT_FALSE(DeleteObject(brush));
  EXPECT_FALSE(DeleteObject(HGDIOBJ(uintptr_t(0x7654320))));
  EXPECT_TRUE(DeleteObject(GetStockObject(WHITE_BRUSH)));
  EXPECT_FALSE(DeleteObject(nullptr));
  HDC dc = GetDC(nullptr);
  SelectObject(dc, font);
  EXPECT_TRUE(DeleteObject(font));  // still selected
  b = s.Gdi();
  EXPECT_EQ(b.Alive(), 1);
  EXPECT_EQ(b.doubleDeletes, 1);
  EXPECT_EQ(b.invalidDeletes, 1);
  EXPECT_EQ(b.deletedWhileSelected, 1);
  EXPECT_EQ(b.dcsNotReleased, 1);
  EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
  EXPECT_EQ(ReleaseDC(nullptr, dc), 0);
  b = s.Gdi();
  EXPECT_EQ(b.dcsNotReleased, 0);
  EXPECT_EQ(b.releasedWithSelection, 1);
  EXPECT_FALSE(b.Clean());
  DeleteObject(region);
  EXPECT_EQ(s.Gdi().Alive(), 0);
}

// A process that ends with GDI objects alive says so in its exit record.
TEST(WinsimGdi, ExitRecordCountsWhatWasLeft) {
  Machine m;
  winsim::RunProcess(m, {}, [] {
    CreateSolidBrush(0);
    HRGN r = CreateRectRgn(0, 0, 1, 1);
    DeleteObject(r);
    DeleteObject(r);
    GetDC(nullptr);
    ExitProcess(0);
  });
  ASSERT_EQ(m.exits.size(), 1u);
  EXPECT_EQ(m.exits[0].gdiObjects, 1);
  EXPECT_EQ(m.exits[0].gdiDoubleDeletes, 1);
  EXPECT_EQ(m.exits[0].dcsNotReleased, 1);
}

// Every GDI call can be made to fail, as Windows fails it.
TEST(WinsimGdi, InjectedFailures) {
  Machine m;
  m.Fail("CreateFontIndirectW", ERROR_NOT_ENOUGH_MEMORY);
  m.Fail("GetDC", ERROR_INVALID_WINDOW_HANDLE);
  m.Fail("CombineRgn", ERROR_INVALID_PARAMETER);
  Session s(m);
  LOGFONTW lf{};
  EXPECT_EQ(CreateFontIndirectW(&lf), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(GetDC(nullptr), nullptr);
  HRGN r = CreateRectRgn(0, 0, 5, 5);
  EXPECT_EQ(CombineRgn(r, r, r, RGN_OR), ERROR);
  DeleteObject(r);
  EXPECT_TRUE(s.Gdi().Clean());
}
