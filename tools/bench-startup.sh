#!/usr/bin/env bash
# A measure, not a test: the start-up of install.exe to its visible window on Wine, against a
# minimal Win32 window program built here (one window class, one window, shown, a message loop)
# of the same bitness: 32-bit, or 64-bit where install.exe's 64-bit twin stands in.
# Each is started RUNS times (default 7, after one unmeasured warm-up), alternately, on an X
# server of its own; the time runs from the start of the wine command until the X server shows a
# mapped window with the program's caption. Prints the medians and their ratio.
#   bash tools/bench-startup.sh [RUNS]
cd "$(dirname "$0")/.."
source tools/wine-window.sh
runs=${1:-7}
build_all
use_prefix
make_demo
virtual_display
unmanaged_windows
# One wineserver for all the runs, so that none of them pays for starting it.
wineserver -w
wineserver -p10

BENCH=$ROOT/build/bench
mkdir -p "$BENCH"
cat >"$BENCH/minimal.c" <<'CEOF'
#include <windows.h>

static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd, int show) {
  (void)prev;
  (void)cmd;
  (void)show;
  WNDCLASSW wc = {0};
  wc.lpfnWndProc = Proc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"MinimalWindow";
  if (!RegisterClassW(&wc)) return 1;
  HWND w = CreateWindowExW(0, L"MinimalWindow", L"Minimal window", WS_OVERLAPPEDWINDOW, 50, 50, 600, 320,
                           NULL, NULL, inst, NULL);
  if (!w) return 1;
  ShowWindow(w, SW_SHOWNORMAL);
  MSG msg;
  while (GetMessageW(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return (int)msg.wParam;
}
CEOF
$CC -O2 -s -mwindows -static-libgcc -o "$BENCH/minimal.exe" "$BENCH/minimal.c"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Starts the program, waits for its window on the X server, prints the milliseconds, closes it.
#   time_one DIR EXE CAPTION
time_one() {
  local start end pid
  start=$(now_ms)
  (cd "$1" && exec "$WINE" "$2" >/dev/null 2>&1) &
  pid=$!
  until xdotool search --onlyvisible --name "^$3\$" >/dev/null 2>&1; do
    sleep 0.005
    if [ $(($(now_ms) - start)) -gt 30000 ]; then echo "no window \"$3\"" >&2; kill $pid; exit 1; fi
  done
  end=$(now_ms)
  echo $((end - start))
  # Both windows lie at (50, 50), 600x320: Alt+F4 with the pointer over them closes them.
  xdotool mousemove 300 200
  xdotool key alt+F4
  wait $pid || true
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

time_one "$DEMO" install.exe "$CAPTION" >/dev/null
time_one "$BENCH" minimal.exe "Minimal window" >/dev/null
inst=() mini=()
for i in $(seq "$runs"); do
  inst+=("$(time_one "$DEMO" install.exe "$CAPTION")")
  mini+=("$(time_one "$BENCH" minimal.exe "Minimal window")")
done
mi=$(printf '%s\n' "${inst[@]}" | median)
mm=$(printf '%s\n' "${mini[@]}" | median)
echo "install.exe to its visible window (ms): ${inst[*]}"
echo "minimal.exe to its visible window (ms): ${mini[*]}"
echo "medians: install.exe $mi ms, minimal window program $mm ms, ratio $(awk -v a="$mi" -v b="$mm" 'BEGIN { printf "%.2f", a / b }')"
echo "$("$WINE" --version); install.exe ($BITS-bit) $(stat -c %s "$DEMO/install.exe") bytes, minimal.exe $(stat -c %s "$BENCH/minimal.exe") bytes"
