// Fonts and brushes: each rebuild makes a handle of its own and tells the owner's window.
#include <cstring>

#include "probe.h"

namespace {

using Gdi = ProbeTest;

std::wstring NameOf(const CFont* f) {
  WideText t;
  EXPECT_TRUE(f->GetName(t));
  return t.c_str();
}

TEST_F(Gdi, SettingTheCurrentValueKeepsTheHandle) {
  CFont* f = new CFont(nullptr);
  ASSERT_NE(f->Handle(), nullptr);
  HFONT before = f->Handle();
  f->SetHeight(f->GetHeight());
  f->SetWeight(f->GetWeight());
  f->SetName(NameOf(f).c_str());
  EXPECT_EQ(f->Handle(), before);
  delete f;
}

TEST_F(Gdi, EachChangeMakesAFontAndTellsTheOwnersWindow) {
  CMainWindow* main = New<CMainWindow>();
  CButton* b = New<CButton>(main);  // a button keeps the font it is told of
  CFont* f = b->Font();
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(b->Handle(), WM_GETFONT, 0, 0)), f->Handle());
  struct Change {
    const char* name;
    void (*apply)(CFont*);
  } changes[] = {
      {"height", [](CFont* x) { x->SetHeight(x->GetHeight() - 3); }},
      {"weight", [](CFont* x) { x->SetWeight(x->GetWeight() == FW_BOLD ? FW_NORMAL : FW_BOLD); }},
      {"name", [](CFont* x) { x->SetName(L"Arial"); }},
      {"name in other case", [](CFont* x) { x->SetName(L"ARIAL"); }},
      {"system font", [](CFont* x) { x->CreateFnt(); }},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.name);
    HFONT before = f->Handle();
    c.apply(f);
    EXPECT_NE(f->Handle(), nullptr);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(b->Handle(), WM_GETFONT, 0, 0)), f->Handle());
    EXPECT_NE(f->Handle(), before);
  }
  main->Destroy();
}

TEST_F(Gdi, NamesReadBackAsSet) {
  CFont f0(nullptr);
  CFont* f = &f0;
  f->SetName(L"A face name that fills the field!!");  // 34 characters: the first 32 are kept
  EXPECT_EQ(NameOf(f), L"A face name that fills the field");
  LOGFONTW made = {};
  ASSERT_EQ(GetObjectW(f->Handle(), sizeof(made), &made), int(sizeof(made)));
  EXPECT_STREQ(made.lfFaceName, L"A face name that fills the fiel");  // Windows gets it terminated
  f->SetName(L"Tahoma");
  EXPECT_EQ(NameOf(f), L"Tahoma");
  f->SetName(L"Tahoma Bold");  // the current name is only its beginning
  EXPECT_EQ(NameOf(f), L"Tahoma Bold");
  f->SetName(L"0123456789012345678901234567890");  // 31
  EXPECT_EQ(NameOf(f), L"0123456789012345678901234567890");
  f->SetName(L"");
  EXPECT_EQ(NameOf(f), L"");
  EXPECT_NE(f->Handle(), nullptr);
}

TEST_F(Gdi, CopyOfGivesAnEqualDescriptionAndAHandleOfItsOwn) {
  CFont a(nullptr), b(nullptr);
  a.SetHeight(-17);
  a.SetName(L"Courier New");
  HFONT before = b.Handle();
  b.CopyOf(&a);
  EXPECT_EQ(std::memcmp(&a.LogFont(), &b.LogFont(), sizeof(LOGFONTW)), 0);
  EXPECT_NE(b.Handle(), a.Handle());
  EXPECT_NE(b.Handle(), before);
  HFONT copied = b.Handle();
  b.CopyOf(&a);  // equal already: rebuilt all the same
  EXPECT_NE(b.Handle(), copied);
}

TEST_F(Gdi, BrushOfTheCurrentColourKeepsItsHandle) {
  CBrush brush;
  EXPECT_EQ(brush.GetColor(), GetSysColor(COLOR_WINDOW));
  HBRUSH before = brush.Handle();
  ASSERT_NE(before, nullptr);
  brush.SetColor(brush.GetColor());
  EXPECT_EQ(brush.Handle(), before);
  brush.SetColor(RGB(10, 20, 30));
  EXPECT_EQ(brush.GetColor(), RGB(10, 20, 30));
  EXPECT_NE(brush.Handle(), nullptr);
  LOGBRUSH lb = {};
  ASSERT_EQ(GetObjectW(brush.Handle(), sizeof(lb), &lb), int(sizeof(lb)));
  EXPECT_EQ(lb.lbColor, RGB(10, 20, 30));
  EXPECT_EQ(lb.lbStyle, UINT(BS_SOLID));
}

}  // namespace
