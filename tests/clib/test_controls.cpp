// Buttons and list boxes: creation values, events and the list operations.
#include <cstdlib>
#include <cstring>

#include "probe.h"

using namespace probe;

namespace {

// Receives events and records "receiver:sender" by name.
struct Receiver {
  std::wstring name;
  const CControl* a = nullptr;
  const CControl* b = nullptr;
  void Event(void* Sender) {
    const wchar_t* who = Sender == a ? L"a" : Sender == b ? L"b" : L"?";
    Seen().events.push_back(name + L":" + who);
  }
};

// The character cell height of a font, measured on a window's device context.
LONG CellHeight(HWND window, HFONT font) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm = {};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return tm.tmHeight;
}

class Controls : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    main = New<CMainWindow>();
    main->Move(50, 50, 600, 320);
  }
  // Clicks go to visible windows. Shown only where needed: taking a visible window down costs
  // Wine without a window manager two seconds.
  void ShowMain() { main->Show(); }
  void TearDown() override {
    if (IsWindow(mainHandle())) main->Destroy();
    ProbeTest::TearDown();
  }
  HWND mainHandle() const { return main ? main->Handle() : nullptr; }
  CMainWindow* main = nullptr;
};

TEST_F(Controls, ButtonIsAHiddenPushButtonAsHighAsItsParentsTextPlus12) {
  main->Font()->SetHeight(16);
  CButton* b = New<CButton>(main);
  EXPECT_EQ(CellHeight(b->Handle(), main->Font()->Handle()), 16);
  EXPECT_EQ(b->Left(), 0);
  EXPECT_EQ(b->Top(), 0);
  EXPECT_EQ(b->Width(), 128);
  EXPECT_EQ(b->Height(), 28);
  EXPECT_FALSE(b->GetVisible());
  EXPECT_EQ(b->GetStyle() & (WS_CHILD | 0xF), WS_CHILD);  // a push button
  EXPECT_EQ(b->CreationStyle(), DWORD(WS_CHILD));
}

TEST_F(Controls, ListBoxStartsEmptyHiddenAndWithoutSize) {
  CListBox* l = New<CListBox>(main);
  EXPECT_EQ(l->Width(), 0);
  EXPECT_EQ(l->Height(), 0);
  EXPECT_FALSE(l->GetVisible());
  EXPECT_EQ(l->Count(), 0);
  EXPECT_EQ(l->GetCurSel(), -1);
  EXPECT_EQ(l->CreationStyle(), 0x40200141u);
  EXPECT_NE(GetWindowLongW(l->Handle(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
}

TEST_F(Controls, ClickRaisesOnClickWithTheClickedButtonAsSender) {
  CButton* a = New<CButton>(main);
  CButton* b = New<CButton>(main);
  b->Move(0, 40);
  ShowMain();
  a->Show();
  b->Show();
  Receiver r{L"r", a, b};
  a->SetOnClick(MakeEvent<TButtonClickEvent, Receiver, &Receiver::Event>(&r));
  b->SetOnClick(a->OnClick());
  SendMessageW(a->Handle(), BM_CLICK, 0, 0);
  SendMessageW(b->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(Seen().events, (std::vector<std::wstring>{L"r:a", L"r:b"}));
}

// The parent's class procedure records what is passed on to it: the parent's object answers the
// click of a button object itself (DefWindowProcW would answer 0 as well), and passes on only the
// click of a button that has no object.
TEST_F(Controls, ClickWithoutHandlerIsStillAnsweredByTheParent) {
  TProbe* parent = New<TProbe>(nullptr);
  parent->Show();
  CButton* a = New<CButton>(parent);
  a->Show();
  HWND plain = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE, 0, 40, 100, 24, parent->Handle(), nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  struct Row {
    const char* name;
    HWND button;
    int passedOn;
  } rows[] = {{"button object without handler", a->Handle(), 0}, {"button without object", plain, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Seen().passedOn.clear();
    SendMessageW(row.button, BM_CLICK, 0, 0);
    EXPECT_EQ(PassedOnCount(parent->Handle(), WM_COMMAND), row.passedOn);
    Seen().passedOn.clear();
    EXPECT_EQ(SendMessageW(parent->Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(row.button)),
              0);
    EXPECT_EQ(PassedOnCount(parent->Handle(), WM_COMMAND), row.passedOn);
    EXPECT_TRUE(IsWindow(row.button));
  }
  parent->Destroy();
}

// Every notification of a control is answered by the parent's object, raising an event or not;
// the parent's class procedure (which records what reaches it) sees none of them, only a menu's.
TEST_F(Controls, OnlyClickAndSelectionChangeRaiseEvents) {
  TProbe* parent = New<TProbe>(nullptr);
  CButton* button = New<CButton>(parent);
  CListBox* list = New<CListBox>(parent);
  Receiver r{L"r", button, list};
  button->SetOnClick(MakeEvent<TButtonClickEvent, Receiver, &Receiver::Event>(&r));
  list->SetOnSelChange(MakeEvent<TNotification, Receiver, &Receiver::Event>(&r));
  struct Row {
    CControl* from;  // null: a menu
    WORD code;
    bool raises;
  } rows[] = {
      {button, BN_CLICKED, true},   {button, 5 /* double click */, false}, {button, 6 /* set focus */, false},
      {list, LBN_SELCHANGE, true},  {list, LBN_DBLCLK, false},           {list, LBN_SETFOCUS, false},
      {list, LBN_KILLFOCUS, false}, {list, 0, false},                    {nullptr, 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.from == button ? "button" : row.from == list ? "list" : "menu") + " code " +
                 std::to_string(row.code));
    Seen().events.clear();
    Seen().passedOn.clear();
    HWND from = row.from ? row.from->Handle() : nullptr;
    LRESULT answer = SendMessageW(parent->Handle(), WM_COMMAND, MAKEWPARAM(0, row.code), reinterpret_cast<LPARAM>(from));
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(PassedOnCount(parent->Handle(), WM_COMMAND), row.from ? 0 : 1);
    EXPECT_EQ(Seen().events.size(), row.raises ? 1u : 0u);
  }
  parent->Destroy();
}

// A button whose allocator leaves its block dirty: the zero start comes from New<T> itself.
class TDirtyButton : public CButton {
 public:
  static void* operator new(size_t Size) noexcept {
    void* block = std::malloc(Size);
    if (block) std::memset(block, 0xA5, Size);
    return block;
  }
  static void operator delete(void* Block) noexcept { std::free(Block); }
};

TEST_F(Controls, NewControlHasNoHandlerWhateverItsAllocatorLeft) {
  TDirtyButton* b = New<TDirtyButton>(main);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->OnClick().Code, nullptr);
  EXPECT_EQ(b->OnClick().Data, nullptr);
  ShowMain();
  b->Show();
  SendMessageW(b->Handle(), BM_CLICK, 0, 0);  // no handler to call
  EXPECT_TRUE(IsWindow(b->Handle()));
}

// A click handler that closes the main window: the button and its parent go while their
// WM_COMMAND is still being handled.
struct Closer {
  CMainWindow* main;
  void Event(void*) { main->Close(); }
};

TEST_F(Controls, ClickHandlerMayCloseTheWindowItRunsIn) {
  CButton* b = New<CButton>(main);
  ShowMain();
  b->Show();
  HWND button = b->Handle(), window = main->Handle();
  Closer closer{main};
  b->SetOnClick(MakeEvent<TButtonClickEvent, Closer, &Closer::Event>(&closer));
  TakeQuitMessages();
  SendMessageW(button, BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindow(button));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(TakeQuitMessages(), std::vector<WPARAM>{0});
  main = nullptr;
}

TEST_F(Controls, DefPushButtonIsBitOneOfTheExtendedStyleOnly) {
  CButton* b = New<CButton>(main);
  LONG style = b->GetStyle();
  SetWindowLongW(b->Handle(), GWL_EXSTYLE, WS_EX_CLIENTEDGE);
  b->SetDefPushButton(true);
  EXPECT_TRUE(b->GetDefPushButton());
  EXPECT_EQ(GetWindowLongW(b->Handle(), GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | 1), WS_EX_CLIENTEDGE | 1);
  EXPECT_EQ(b->GetStyle(), style);
  b->SetDefPushButton(true);
  EXPECT_TRUE(b->GetDefPushButton());
  b->SetDefPushButton(false);
  EXPECT_FALSE(b->GetDefPushButton());
  EXPECT_EQ(GetWindowLongW(b->Handle(), GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | 1), WS_EX_CLIENTEDGE);
  EXPECT_EQ(b->GetStyle(), style);
}

TEST_F(Controls, ListKeepsLinesInOrderAndReadsOutsideAsEmpty) {
  CListBox* l = New<CListBox>(main);
  EXPECT_EQ(l->AddString(L"first"), 0);
  EXPECT_EQ(l->AddString(L""), 1);
  EXPECT_EQ(l->AddString(nullptr), 2);
  EXPECT_EQ(l->AddString(L"Successfull uninstalled "), 3);
  EXPECT_EQ(Lines(l), (std::vector<std::wstring>{L"first", L"", L"", L"Successfull uninstalled "}));
  for (int outside : {-1, 4, 1000}) {
    SCOPED_TRACE(outside);
    WideText t;
    t.Append(L"stale");
    EXPECT_TRUE(l->GetString(outside, t));
    EXPECT_STREQ(t.c_str(), L"");
  }
  l->Clear();
  EXPECT_EQ(l->Count(), 0);
}

TEST_F(Controls, SetCurSelSelectsWithoutRaisingOnSelChange) {
  CListBox* l = New<CListBox>(main);
  Receiver r{L"r", l, nullptr};
  l->SetOnSelChange(MakeEvent<TNotification, Receiver, &Receiver::Event>(&r));
  l->AddString(L"a");
  l->AddString(L"b");
  EXPECT_EQ(l->GetCurSel(), -1);
  l->SetCurSel(1);
  EXPECT_EQ(l->GetCurSel(), 1);
  l->SetCurSel(-1);
  EXPECT_EQ(l->GetCurSel(), -1);
  EXPECT_TRUE(Seen().events.empty());
}

TEST_F(Controls, SelectionByTheUserRaisesOnSelChange) {
  CListBox* l = New<CListBox>(main);
  l->Move(10, 10, 200, 120);
  ShowMain();
  l->Show();
  Receiver r{L"r", l, nullptr};
  l->SetOnSelChange(MakeEvent<TNotification, Receiver, &Receiver::Event>(&r));
  for (const wchar_t* s : {L"one", L"two", L"three"}) l->AddString(s);
  LRESULT line = SendMessageW(l->Handle(), LB_GETITEMHEIGHT, 0, 0);
  ASSERT_GT(line, 0);
  LPARAM point = MAKELPARAM(5, line + line / 2);  // inside the second line
  SendMessageW(l->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, point);
  SendMessageW(l->Handle(), WM_LBUTTONUP, 0, point);
  EXPECT_EQ(l->GetCurSel(), 1);
  EXPECT_EQ(Seen().events, std::vector<std::wstring>{L"r:a"});
}

TEST_F(Controls, LineHeightFollowsTheListsOwnFontAtEverySize) {
  CListBox* l = New<CListBox>(main);
  main->Font()->SetHeight(-30);  // the parent's font does not count once the list has its own
  l->Font()->SetHeight(-13);
  l->Move(0, 0, 200, 100);
  EXPECT_EQ(SendMessageW(l->Handle(), LB_GETITEMHEIGHT, 0, 0), CellHeight(l->Handle(), l->Font()->Handle()));
  l->Font()->SetHeight(-24);
  l->SetHeight(110);
  LONG cell = CellHeight(l->Handle(), l->Font()->Handle());
  EXPECT_EQ(SendMessageW(l->Handle(), LB_GETITEMHEIGHT, 0, 0), cell);
  EXPECT_EQ(l->Height(), 110);  // 110 is no whole number of lines: the list keeps it
  EXPECT_NE(110 % cell, 0);
}

}  // namespace
