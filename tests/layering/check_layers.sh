#!/usr/bin/env bash
# Checks that the code keeps its layers: a file under src/<layer>/ includes headers of its own
# layer and of the layers below only, never of a higher layer or of a sibling; Qt headers appear
# only in src/gui and src/qtcan; src/main.cpp may include anything. A folder named in ONLY may
# include just the layers listed for it (the Qt CAN bus back-end sits beside the GUI, but it is a
# CAN back-end: nothing above the CAN layer). When ROOT has a CMakeLists.txt, the
# libraries' link graph (target_link_libraries and busprobe_subsystem calls) must follow the same
# order.
#
#   check_layers.sh ROOT     ROOT holds src/ (and CMakeLists.txt)
#
# Prints each finding as "file: include" and exits 1 when there is one; exits 0 otherwise.
set -euo pipefail
ROOT=${1:?source root (the folder holding src/)}
[ -d "$ROOT/src" ] || { echo "check_layers: no folder $ROOT/src"; exit 2; }

# Layers, lowest first; folders of one rank are siblings and may not include each other.
RANKS='base=0 can=1 interp=2 traffic=2 canopen=3 firmware=4 tools=4 i18n=4 app=5 gui=6 qtcan=6'
ONLY='qtcan=base,can'
QT_LAYERS='gui qtcan'

status=0
cd "$ROOT"
mapfile -d '' files < <(find src -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)
if [ "${#files[@]}" -gt 0 ]; then
  awk -v ranks="$RANKS" -v only="$ONLY" -v qtLayers="$QT_LAYERS" '
    BEGIN {
      n = split(ranks, pairs, " ")
      for (i = 1; i <= n; ++i) { split(pairs[i], kv, "="); rank[kv[1]] = kv[2] }
      n = split(only, pairs, " ")
      for (i = 1; i <= n; ++i) {
        split(pairs[i], kv, "=")
        limited[kv[1]] = 1
        m = split(kv[2], allowedList, ",")
        for (j = 1; j <= m; ++j) allowed[kv[1], allowedList[j]] = 1
      }
      n = split(qtLayers, names, " ")
      for (i = 1; i <= n; ++i) qtAllowed[names[i]] = 1
    }
    FNR == 1 {
      split(FILENAME, part, "/")
      # src/main.cpp is the executable: it may join every layer.
      layer = (FILENAME == "src/main.cpp") ? "*" : (part[3] == "" ? "" : part[2])
      if (layer != "*" && !(layer in rank)) {
        printf "%s: (the folder \"%s\" has no place among the layers)\n", FILENAME, layer
        bad = 1
      }
    }
    /^[ \t]*#[ \t]*include[ \t]*[<"]/ {
      if (layer == "*" || !(layer in rank)) next
      line = $0
      sub(/^[ \t]*#[ \t]*include[ \t]*/, "", line)
      if (!match(line, /^(<[^>]*>|"[^"]*")/)) next
      line = substr(line, 1, RLENGTH)
      target = substr(line, 2, length(line) - 2)
      if (line ~ /^<Q[A-Za-z0-9_]*(>|\/)/) {
        if (!(layer in qtAllowed)) {
          printf "%s: #include %s (Qt only in src/gui and src/qtcan)\n", FILENAME, line
          bad = 1
        }
        next
      }
      # A path that climbs out of the folder names its layer after the "../"; a bare name is a
      # header beside the including file.
      while (target ~ /^\.\.\//) target = substr(target, 4)
      slash = index(target, "/")
      if (slash == 0) next
      to = substr(target, 1, slash - 1)
      if (!(to in rank) || to == layer) next
      if (rank[to] >= rank[layer] || ((layer in limited) && !((layer, to) in allowed))) {
        printf "%s: #include %s (%s may not include %s)\n", FILENAME, line, layer, to
        bad = 1
      }
    }
    END { exit bad }
  ' "${files[@]}" || status=1
fi

# The link graph: each statement is joined over its lines; inside foreach(var items...) a
# busprobe_${var} stands for each item.
if [ -f CMakeLists.txt ]; then
  awk -v ranks="$RANKS" '
    BEGIN {
      n = split(ranks, pairs, " ")
      for (i = 1; i <= n; ++i) { split(pairs[i], kv, "="); rank[kv[1]] = kv[2] }
    }
    function depth(s,   t) { t = s; return gsub(/\(/, "", t) - gsub(/\)/, "", s) }
    function check(from, to, text) {
      if (!(from in rank) || !(to in rank) || from == to) return
      if (rank[to] >= rank[from]) {
        printf "CMakeLists.txt: %s (busprobe_%s may not link busprobe_%s)\n", text, from, to
        bad = 1
      }
    }
    {
      sub(/#.*/, "")
      stmt = (open ? stmt " " : "") $0
      open = depth(stmt) > 0
      if (open) next
      gsub(/[ \t]+/, " ", stmt)
      sub(/^ /, "", stmt)
      if (stmt ~ /^foreach *\(/) {
        body = stmt
        sub(/^foreach *\( */, "", body); sub(/ *\).*$/, "", body)
        nitems = split(body, items, " ")
        var = items[1]
        loops[++nloops] = var
        lists[var] = ""
        for (i = 2; i <= nitems; ++i) lists[var] = lists[var] " " items[i]
      } else if (stmt ~ /^endforeach *\(/) {
        if (nloops > 0) delete lists[loops[nloops--]]
      } else if (stmt ~ /^(target_link_libraries|busprobe_subsystem) *\(/) {
        body = stmt
        sub(/^[a-z_]+ *\( */, "", body); sub(/ *\) *$/, "", body)
        nargs = split(body, args, " ")
        from = args[1]
        if (stmt ~ /^target_link_libraries/) {
          if (from !~ /^busprobe_/) next
          from = substr(from, 10)
        }
        for (i = 2; i <= nargs; ++i) {
          to = args[i]
          if (stmt ~ /^target_link_libraries/) {
            if (to !~ /^busprobe_/) continue
            to = substr(to, 10)
          }
          # Expand a loop variable in either end of the edge.
          if (from ~ /^\$\{[a-z_]+\}$/ || to ~ /^\$\{[a-z_]+\}$/) {
            fv = substr(from, 3, length(from) - 3); tv = substr(to, 3, length(to) - 3)
            v = (from ~ /^\$\{/) ? fv : tv
            if (!(v in lists)) continue
            m = split(lists[v], vals, " ")
            for (k = 1; k <= m; ++k)
              check(from ~ /^\$\{/ ? vals[k] : from, to ~ /^\$\{/ ? vals[k] : to, stmt)
          } else {
            check(from, to, stmt)
          }
        }
      }
      stmt = ""
    }
    END { exit bad }
  ' CMakeLists.txt || status=1
fi

if [ "$status" = 0 ]; then echo "check_layers: ${#files[@]} files keep their layers"; fi
exit "$status"
