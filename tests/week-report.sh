#!/bin/sh
# The week scenario through the whole meter, as `make week` runs it: qmhost
# plays a week of the simulated line on virtual time (--fast; several minutes
# of one core), then a host on the same database serves the week's EN 50160
# report, printed here. Fails when the run lost anything, or there is no report
# or it does not pass.
# Usage: week-report.sh BUILD-DIR [ADDRESS:PORT [KEEP-DIR]]
# With KEEP-DIR the week's database is left there, for the page to show.
set -u
build=$1
web=${2:-127.0.0.1:18091}
keep=${3:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp config/*.json "$dir"/
# A minute's lead, the week, half a minute past its end (WeekProgram.h).
seconds=$((60 + 7 * 86400 + 30))
echo "A week on virtual time ($seconds s), one line a day:"
# The module's line at each energy interval left out.
started=$(date +%s)
{ QM_APP_DIR=$dir "$build"/qmhost run --fast --scenario week --seconds $seconds --log --log-interval 86400 \
    --db "$dir"/qm9000.db 2>&1; echo $? > "$dir"/status; } | grep -v '^ACCUM/DEMAND COUNT' | tee "$dir"/run.log
if [ "$(cat "$dir"/status)" != 0 ]; then echo "week-report: the week's run failed"; exit 1; fi
echo "The week took $(($(date +%s) - started)) s of the wall on $(nproc) cores."
if [ -n "$keep" ]; then mkdir -p "$keep" && cp "$dir"/*.json "$dir"/qm9000.db "$keep"/; fi
# On virtual time nothing may be lost: every window recorded, every record analysed.
if ! grep -q 'intervals stored, 0 dropped' "$dir"/run.log || ! grep -q ' 0 lost, 0 breaks;' "$dir"/run.log; then
  echo "week-report: the week's run lost recording windows or records"; exit 1
fi
QM_APP_DIR=$dir "$build"/qmhost run --log --web "$web" --seconds 120 --db "$dir"/qm9000.db > "$dir"/log 2>&1 &
pid=$!
for i in $(seq 150); do
  curl -sf "http://$web/api/report/en50160" > "$dir"/report.json && break
  sleep 0.2
done
kill $pid; wait $pid
if ! [ -s "$dir"/report.json ]; then cat "$dir"/log; echo "week-report: no report from http://$web/"; exit 1; fi
jq -r '
  def pct: if .values == 0 then "no values" else "\(.percentWithin * 1000 | round / 1000) % within (\(.within) of \(.values), \(.requiredPercent) % required): \(if .pass then "pass" else "FAIL" end)" end;
  def cell(w): tostring | ("                    " + .)[-w:];
  def header($t; $name): "  " + ($name + "                    ")[:12] + ($t.columns | map(cell(10)) | join(""));
  def table($t): $t.rows | to_entries[] | "  " + (.value + "                    ")[:12] + ($t.counts[.key] | map(cell(10)) | join(""));
  "EN 50160, \(.start) to \(.end), \(.declaredVolts) V \(.nominalHz) Hz: \(.verdict)",
  "10-minute values: \(.tenMinutes.present) of \(.tenMinutes.expected), \(.tenMinutes.flagged) flagged; 10-second frequency values: \(.tenSeconds.present) of \(.tenSeconds.expected)",
  (["A", "B", "C"][] as $p | "voltage \($p) ±10 %: \(.voltage95[$p] | pct)", "voltage \($p) +10/-15 %: \(.voltageAll[$p] | pct)", "THD \($p) ≤ 8 %: \(.thd95[$p] | pct)"),
  "frequency ±1 %: \(.frequency995 | pct)", "frequency +4/-6 %: \(.frequencyAll | pct)",
  "unbalance ≤ 2 %: \(.unbalance95 | pct)",
  header(.dips; "dips"), table(.dips), header(.swells; "swells"), table(.swells)
' "$dir"/report.json
[ "$(jq -r .verdict "$dir"/report.json)" = pass ]
