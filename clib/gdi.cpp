// Fonts and brushes: each object owns one GDI handle and deletes it whenever it replaces it.
#include "clib/clib.h"

namespace {

const int FaceSize = 32;
const WCHAR FallbackFace[] = L"MS Sans Serif";

}  // namespace

CFont::CFont(CControl* AOwner) {
  hFnt = nullptr;
  fOwner = AOwner;
  CreateFnt();
}

CFont::~CFont() {
  if (hFnt) DeleteObject(hFnt);
}

void CFont::CreateFnt() {
  // The whole record, padded border width included: systems that know only the shorter one
  // refuse it and get the fallback font.
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 0, &metrics, 0)) {
    lf = metrics.lfMessageFont;
  } else {
    lf = LOGFONTW();
    lf.lfCharSet = RUSSIAN_CHARSET;
    for (int i = 0; FallbackFace[i]; ++i) lf.lfFaceName[i] = FallbackFace[i];
  }
  RecreateFnt();
}

void CFont::CopyOf(const CFont* AFont) {
  lf = AFont->lf;
  RecreateFnt();
}

void CFont::RecreateFnt() {
  if (hFnt) DeleteObject(hFnt);
  // lf keeps a face name of 32 characters whole; Windows gets it zero-terminated.
  LOGFONTW request = lf;
  request.lfFaceName[FaceSize - 1] = 0;
  hFnt = CreateFontIndirectW(&request);
  if (fOwner && fOwner->Handle())
    SendMessageW(fOwner->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(hFnt), 0);
}

void CFont::SetHeight(LONG Value) {
  if (Value == lf.lfHeight) return;
  lf.lfHeight = Value;
  RecreateFnt();
}

void CFont::SetWeight(LONG Value) {
  if (Value == lf.lfWeight) return;
  lf.lfWeight = Value;
  RecreateFnt();
}

bool CFont::GetName(WideText& Name) const {
  Name.Truncate(0);
  size_t n = 0;
  while (n < FaceSize && lf.lfFaceName[n]) ++n;
  return Name.Append(lf.lfFaceName, n);
}

void CFont::SetName(const WCHAR* Value) {
  if (!Value) Value = L"";
  // Equal only when every character up to the end of both names is equal, case included.
  size_t n = 0;
  while (n < FaceSize && lf.lfFaceName[n] && lf.lfFaceName[n] == Value[n]) ++n;
  bool currentEnds = n == FaceSize || !lf.lfFaceName[n];
  if (currentEnds && !Value[n]) return;
  // The new name padded with NULs, cut to the field's 32 characters.
  bool ended = false;
  for (int i = 0; i < FaceSize; ++i) {
    ended = ended || !Value[i];
    lf.lfFaceName[i] = ended ? 0 : Value[i];
  }
  RecreateFnt();
}

CBrush::CBrush() {
  logbrush.lbStyle = BS_SOLID;
  logbrush.lbColor = GetSysColor(COLOR_WINDOW);
  logbrush.lbHatch = 0;
  hbr = CreateBrushIndirect(&logbrush);
}

CBrush::~CBrush() {
  if (hbr) DeleteObject(hbr);
}

void CBrush::SetColor(COLORREF Value) {
  if (Value == logbrush.lbColor) return;
  logbrush.lbColor = Value;
  if (hbr) DeleteObject(hbr);
  hbr = CreateBrushIndirect(&logbrush);
}
