#!/usr/bin/env bash
# The layering check on small trees: one where every kind of back-edge appears once beside
# includes that are allowed, which must fail with exactly those lines; and a clean one, which
# must pass.
set -euo pipefail
CHECK="$(cd "$(dirname "$0")" && pwd)/check_layers.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*"; echo "== output"; cat "$WORK/out"; exit 1; }

put() {  # file lines...
  mkdir -p "$(dirname "$1")"
  printf '%s\n' "${@:2}" > "$1"
}

# A clean tree: each layer includes itself, the layers below and the standard library; gui uses
# Qt; main.cpp joins everything; the link graph points downwards only.
clean_tree() {
  local r=$1
  put "$r/src/base/clock.h" '#pragma once' '#include <cstdint>'
  put "$r/src/can/frame.h" '#include "base/clock.h"' '#include "frame_ring.h"'
  put "$r/src/interp/expr.h" '#include "can/frame.h"' '#include <queue>'
  put "$r/src/traffic/log.h" '  #  include "base/clock.h"  // indented' '#include "../can/frame.h"'
  put "$r/src/canopen/sdo.cpp" '#include "interp/expr.h"' '#include "traffic/log.h"'
  put "$r/src/tools/watch.h" '#include "canopen/sdo.h"'
  put "$r/src/app/app.cpp" '#include "tools/watch.h"' '#include <sys/socket.h>'
  put "$r/src/gui/win.cpp" '#include "app/app.h"' '#include <QWidget>' '#include <QtWidgets/QLabel>'
  put "$r/src/qtcan/backend.cpp" '#include <QCanBus>' '#include "can/frame.h"' '#include "base/clock.h"'
  put "$r/src/main.cpp" '#include "gui/win.h"' '#include <QApplication>'
  put "$r/CMakeLists.txt" \
    'busprobe_library(busprobe_can can)' \
    'target_link_libraries(busprobe_can PUBLIC busprobe_base ${CMAKE_DL_LIBS})' \
    'busprobe_subsystem(canopen interp traffic can)' \
    'foreach(sub can interp traffic)' \
    '  target_link_libraries(busprobe_app PUBLIC busprobe_${sub})' \
    'endforeach()' \
    'target_link_libraries(busprobe_gui' '  PUBLIC busprobe_app Qt6::Widgets' '  PRIVATE busprobe_warnings)'
}

# 1. The clean tree passes.
clean_tree "$WORK/clean"
status=0
bash "$CHECK" "$WORK/clean" > "$WORK/out" 2>&1 || status=$?
[ "$status" = 0 ] || fail "the clean tree failed with status $status"
grep -q '^check_layers: 10 files keep their layers$' "$WORK/out" || fail "the clean tree's summary"

# 2. The same tree with back-edges: to a higher layer, to a sibling, through "../", Qt outside the
# gui, a folder without a layer, and links upwards (plain, split over lines, and through a loop).
clean_tree "$WORK/bad"
put "$WORK/bad/src/can/x.h" '#include "base/clock.h"' '#include "app/y.h"'
put "$WORK/bad/src/base/str.cpp" '#include <string>' '#include <QString>'
put "$WORK/bad/src/interp/uses_traffic.h" '#include "traffic/log.h"'
put "$WORK/bad/src/traffic/climbs.cpp" '#include "../canopen/sdo.h" /* up */'
put "$WORK/bad/src/misc/loose.cpp" '#include "base/clock.h"'
put "$WORK/bad/src/qtcan/reaches_up.cpp" '#include "can/frame.h"' '#include "traffic/log.h"' '#include "gui/win.h"'
cat >> "$WORK/bad/CMakeLists.txt" <<'CMAKE'
target_link_libraries(busprobe_can PUBLIC busprobe_app)
target_link_libraries(busprobe_interp
  PUBLIC busprobe_traffic)
foreach(up canopen gui)
  target_link_libraries(busprobe_traffic PRIVATE busprobe_${up})
endforeach()
busprobe_subsystem(i18n tools base)
CMAKE
status=0
bash "$CHECK" "$WORK/bad" > "$WORK/out" 2>&1 || status=$?
[ "$status" = 1 ] || fail "the tree with back-edges gave status $status, not 1"
cat > "$WORK/expected" <<'OUT'
src/base/str.cpp: #include <QString> (Qt only in src/gui and src/qtcan)
src/can/x.h: #include "app/y.h" (can may not include app)
src/interp/uses_traffic.h: #include "traffic/log.h" (interp may not include traffic)
src/misc/loose.cpp: (the folder "misc" has no place among the layers)
src/qtcan/reaches_up.cpp: #include "traffic/log.h" (qtcan may not include traffic)
src/qtcan/reaches_up.cpp: #include "gui/win.h" (qtcan may not include gui)
src/traffic/climbs.cpp: #include "../canopen/sdo.h" (traffic may not include canopen)
CMakeLists.txt: target_link_libraries(busprobe_can PUBLIC busprobe_app) (busprobe_can may not link busprobe_app)
CMakeLists.txt: target_link_libraries(busprobe_interp PUBLIC busprobe_traffic) (busprobe_interp may not link busprobe_traffic)
CMakeLists.txt: target_link_libraries(busprobe_traffic PRIVATE busprobe_${up}) (busprobe_traffic may not link busprobe_canopen)
CMakeLists.txt: target_link_libraries(busprobe_traffic PRIVATE busprobe_${up}) (busprobe_traffic may not link busprobe_gui)
CMakeLists.txt: busprobe_subsystem(i18n tools base) (busprobe_i18n may not link busprobe_tools)
OUT
diff -u "$WORK/expected" "$WORK/out" || fail "the findings differ from the back-edges planted"

# 3. A root without src/ is a usage error, not a pass.
status=0
bash "$CHECK" "$WORK/nothing" > "$WORK/out" 2>&1 || status=$?
[ "$status" = 2 ] || fail "a missing src/ gave status $status, not 2"
echo "check_layers_test: all checks passed"
