#!/usr/bin/env bash
# Files under names the program does not control: a FIFO or a link to /dev/zero where the
# configuration, the variables file or the script is expected makes the run come back at once
# with a message (a FIFO once hung the start-up, deaf to SIGTERM); a script longer than the
# program's line limit is not run; a script with carriage-return line ends runs every line.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

# Runs a headless busprobe in the foreground with the configuration directory $WORK/NAME, killed
# when it has not ended within READY_SECS (a blocked open ignores SIGTERM). Sets STATUS.
run_bounded() {  # name busprobe-options...
  local name=$1
  shift
  mkdir -p "$WORK/$name"
  STATUS=0
  XDG_RUNTIME_DIR="$WORK/$name" timeout -s KILL "$READY_SECS" \
    "$BUSPROBE" --headless --config-dir "$WORK/$name" "$@" > "$WORK/$name.out" 2>&1 || STATUS=$?
  [ "$STATUS" != 137 ] || fail "run $name did not end within $READY_SECS s"
}

printf 'print "done"\n' > "$WORK/short.bpr"

# The variables file as a FIFO: start-up completes, the script runs, the FIFO stays a FIFO.
mkdir -p "$WORK/vars"
mkfifo "$WORK/vars/current_vars.txt"
run_bounded vars --exit-after 30 --run "$WORK/short.bpr"
[ "$STATUS" = 0 ] || fail "a FIFO as variables file gave exit status $STATUS"
grep -qxF "Variables file \"$WORK/vars/current_vars.txt\" not loaded: not a regular file." "$WORK/vars.out" ||
  fail "no message about the FIFO as variables file"
grep -qxF "done" "$WORK/vars.out" || fail "the script did not run beside a FIFO variables file"
[ -p "$WORK/vars/current_vars.txt" ] || fail "the save replaced the FIFO under the variables file's name"

# The configuration file as a link to /dev/zero: the defaults, a message, and the link untouched.
mkdir -p "$WORK/ini"
ln -s /dev/zero "$WORK/ini/NVK_Busprobe.ini"
run_bounded ini --exit-after 30 --run "$WORK/short.bpr"
[ "$STATUS" = 0 ] || fail "/dev/zero as configuration file gave exit status $STATUS"
grep -qF "Could not read configuration file \"$WORK/ini/NVK_Busprobe.ini\": not a regular file" "$WORK/ini.out" ||
  fail "no message about /dev/zero as configuration file"
[ -L "$WORK/ini/NVK_Busprobe.ini" ] || fail "the save replaced the link to /dev/zero"
[ -c /dev/zero ] || fail "/dev/zero is no longer a device"

# The script itself as a FIFO or a link to /dev/zero: not loaded, exit status 1.
mkfifo "$WORK/fifo.bpr"
ln -s /dev/zero "$WORK/zero.bpr"
for script in fifo zero; do
  run_bounded "run_$script" --exit-after 30 --run "$WORK/$script.bpr"
  [ "$STATUS" = 1 ] || fail "a $script as script gave exit status $STATUS, expected 1"
  grep -qxF "Could not read command file \"$WORK/$script.bpr\": not a regular file ." "$WORK/run_$script.out" ||
    fail "no message about the $script as script"
done

# One line beyond the limit: refused with the limit named, exit status 1, nothing run.
{
  echo 'print "first line ran"'
  for ((i = 2; i <= 10000; i++)); do echo "; filler $i"; done
} > "$WORK/long.bpr"
run_bounded long --exit-after 30 --run "$WORK/long.bpr"
[ "$STATUS" = 1 ] || fail "a 10000-line script gave exit status $STATUS, expected 1"
grep -qxF "Command file \"$WORK/long.bpr\" has 10000 lines; at most 9999 lines can be run: not loaded." \
  "$WORK/long.out" || fail "no message naming the line limit"
grep -qxF "first line ran" "$WORK/long.out" && fail "a script beyond the line limit was run"

# Carriage returns alone as line ends: every line runs.
printf 'print "one"\rprint "two"\rprint "three"\r' > "$WORK/cr.bpr"
run_bounded cr --exit-after 30 --run "$WORK/cr.bpr"
[ "$STATUS" = 0 ] || fail "the CR-only script gave exit status $STATUS"
for word in one two three; do
  grep -qxF "$word" "$WORK/cr.out" || fail "line \"$word\" of the CR-only script did not run"
done
echo "ok"
