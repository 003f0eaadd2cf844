#!/usr/bin/env bash
# The recipes of docs/batch.md, each command run as the page writes it, on a
# study of 100 revision 20.006 Pfiles and two broken ones (a cut one and one
# of revision 12, which no scanner writes): xargs, GNU parallel with its job log, the JSON table of
# every Rx with jq, melvane -o over a read-only archive, and the Slurm job
# array under a private single-node Slurm. munged, slurmctld and slurmd are
# started here, as root, on 127.0.0.1, with configuration, state, logs, key
# and socket in a temporary directory, and stopped by process id at the end. Every recipe must write
# every summary and header copy, and name each broken Pfile.
#   cluster_test.sh SOURCE_DIR BUILD_DIR
# Without slurm, munge, GNU parallel or root it is skipped (status 77),
# except in CI, where ./scripts/test has installed them.
set -uo pipefail
source=$(cd "$1" && pwd) build=$(cd "$2" && pwd)
docs=$source/docs/batch.md
export PATH="$build:$PATH:/usr/sbin:/sbin"
unset "${!SLURM_@}"
started=$SECONDS

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
unavailable() {  # WHY: skipped on a workstation; in CI, ./scripts/test has installed all
  if [ -n "${CI:-}" ]; then echo "FAIL: $*" >&2; exit 1; fi
  echo "SKIP: $*" >&2
  exit 77
}
install="./scripts/install-deps slurm-wlm munge parallel jq installs it"
for program in munged mungekey slurmctld slurmd sbatch scontrol sinfo jq; do
  command -v "$program" >/dev/null || unavailable "$program is not installed; $install"
done
parallel --version 2>/dev/null | grep -q '^GNU parallel' ||
  unavailable "GNU parallel is not installed; $install"
[ "$(id -u)" -eq 0 ] || unavailable "slurmd runs jobs only when started as root"

# Where Debian's munge and slurm keep their files: none may change here.
system_places() {
  ls -la --time-style=+%s /run/munge /var/lib/munge /var/log/munge /var/log/slurm \
    /var/spool/slurmd /var/spool/slurmctld /var/lib/slurm /run/slurm* 2>&1
}
places_before=$(system_places)

# munged requires search permission for everyone on its socket's directories.
# GNU parallel keeps files in $HOME/.parallel.
tmp=$(mktemp -d) && chmod 711 "$tmp"
export HOME=$tmp/home TMPDIR=$tmp/scratch
mkdir -p "$HOME" "$TMPDIR" "$tmp"/{munge,sock,state,spool,log}
chmod 755 "$tmp/sock"
daemons=()
stop() {  # PID: SIGTERM, up to 10 s to end, then SIGKILL
  local state
  kill -TERM "$1" 2>/dev/null || return 0
  for _ in $(seq 100); do
    # Gone once bash has reaped it; a zombie until then.
    state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1)
    [ -z "$state" ] || [ "$state" = Z ] && break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
job=""
# The step daemons slurmd started for the job's tasks (their own sessions,
# parent 1), by process id.
step_pids() {
  local ids
  [ -n "$job" ] || return 0
  ids=$(timeout 5 scontrol -o show job "$job" 2>/dev/null | grep -o '^JobId=[0-9]*' | cut -d= -f2 | paste -sd '|')
  [ -z "$ids" ] || grep -lsaE "^slurmstepd: \[($ids)\." /proc/[0-9]*/cmdline | cut -d/ -f3
}
cleanup() {
  for pid in $(step_pids); do stop "$pid"; done
  for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do stop "${daemons[i]}"; done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE
wait_for() {  # SECONDS COMMAND...: until COMMAND succeeds, at most SECONDS
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# --- the study --------------------------------------------------------------
study=$tmp/study
mkdir -p "$study/exam 1" "$study/it's here"
good=()
for i in $(seq 100); do
  dir="exam 1"; [ $((i % 2)) -eq 0 ] && dir="it's here"
  good+=("$study/$dir/P$((20000 + i)).7")
  mkpfile rev20 "${good[-1]}" run=$((20000 + i)) exam=$((1000 + i)) series=5
done
cut="$study/exam 1/P20101.7" other="$study/it's here/P20102.7"
mkpfile rev20 "$cut" run=20101 size=100000
mkpfile rev20 "$other" run=20102 rev=12.0

# The page's commands: the lines of its sh blocks; its job script, verbatim.
recipes=$(sed -n '/^```sh$/,/^```$/{/^```/d;p;}' "$docs")
sed -n '/^```bash$/,/^```$/{/^```/d;p;}' "$docs" | cmp -s - "$source/docs/melvane-array.sbatch" ||
  fail "docs/batch.md does not show docs/melvane-array.sbatch as it is"
ran=""
recipe() {  # LINE: one of the page's commands, run as written
  grep -qxF -- "$1" <<<"$recipes" || fail "docs/batch.md does not show: $1"
  ran+="$1"$'\n'
  eval "$1"
}

# outputs DIR: a summary in DIR and a header copy beside the Pfile for every
# good Pfile, none for the other revision; the copies are removed afterwards,
# so that the next recipe's are its own. The first DIR checked is the
# reference whose summaries every later one must equal.
reference=""
outputs() {
  local i name
  for i in $(seq 100); do
    name=$(printf 'E%05dS005P%05d.7' $((1000 + i)) $((20000 + i)))
    if ! sed -n 3,4p "$1/$name" 2>/dev/null |
         cmp -s - <(printf 'runnum = %d\nexamnum/seriesnum = %05d/005\n' $((20000 + i)) $((1000 + i))); then
      fail "$(basename "$1"): summary $name is missing or wrong"
    elif [ -n "$reference" ] && ! cmp -s "$1/$name" "$reference/$name"; then
      fail "$(basename "$1"): summary $name differs from $(basename "$reference")'s"
    fi
    cmp -s "${good[i - 1]}" "${good[i - 1]}.hdr" || fail "$(basename "$1"): no header copy of ${good[i - 1]}"
  done
  [ -e "$other.hdr" ] && fail "$(basename "$1"): a header copy of the revision 12 Pfile"
  [ -n "$reference" ] || reference=$1
  find "$study" -name '*.hdr' -delete
}
names_broken() {  # LABEL TEXT: TEXT names both broken Pfiles
  [[ $2 == *"$cut"* && $2 == *"$other"* ]] || fail "$1 does not name both broken Pfiles: $2"
}

# --- xargs ------------------------------------------------------------------
mkdir "$tmp/xargs" && cd "$tmp/xargs" || exit 1
status=0
recipe "find \"\$study\" -name 'P*.7' -print0 | xargs -0 -n 1 -P \"\$(nproc)\" sh -c 'melvane \"\$1\" || exit 1' sh" \
  >out 2>err || status=$?
[ "$status" -eq 123 ] || fail "xargs: status $status, not 123"
names_broken "xargs: melvane's standard error" "$(grep '^melvane: ' err)"
outputs "$tmp/xargs"
recipe "find \"\$study\" -name 'P*.7' -print0 | xargs -0 -n 1 -P \"\$(nproc)\" sh -c 'torvek \"\$1\" >\"\$1.rx\"' sh" \
  2>/dev/null
for pfile in "${good[@]}" "$cut" "$other"; do
  grep -qxF "Retrieving Rx info from pfile $pfile!" "$pfile.rx" 2>/dev/null ||
    fail "torvek with xargs: no report $pfile.rx"
done
find "$study" -name '*.rx' -delete

# --- a table of every Rx -----------------------------------------------------
cd "$study/exam 1" || exit 1
recipe 'for f in P*.7; do torvek --json "$f"; done > rx.jsonl' 2>/dev/null
[ "$(wc -l <rx.jsonl)" -eq 51 ] && jq -e . rx.jsonl >/dev/null ||
  fail "torvek --json: rx.jsonl is not 51 lines of JSON: $(head -c 300 rx.jsonl)"
recipe "jq -r '[.pfile, .revision, .start_ras_mm[], .end_ras_mm[]] | @tsv' rx.jsonl > rx.tsv"
[ "$(awk -F'\t' 'NF == 8 && $2 == "20.006"' rx.tsv | wc -l)" -eq 51 ] ||
  fail "the jq table: not 51 rows of 8 columns: $(head -n 3 rx.tsv)"
recipe "jq -r 'select(.error != null) | .pfile' rx.jsonl" >failed
[ "$(cat failed)" = P20101.7 ] || fail "the jq failures: '$(cat failed)', not the cut Pfile"
rm rx.jsonl rx.tsv failed
recipe 'mkdir -p sidecars'
recipe 'for f in P*.7; do melvane --json -o sidecars "$f"; done' >/dev/null 2>&1
recipe 'jq -s . sidecars/*.json > scans.json'
[ "$(jq length scans.json)" -ge 50 ] || fail "jq -s: scans.json does not join the sidecars"
recipe "jq -r '.[] | [.ExamNumber, .SeriesNumber, .RunNumber, .PfileRevision, .RepetitionTime, .EchoTime] | @tsv' scans.json > scans.tsv"
[ "$(awk -F'\t' 'NF == 6 && $4 == "20.006"' scans.tsv | wc -l)" -ge 50 ] ||
  fail "the sidecar table: not a row of 6 columns per scan: $(head -n 3 scans.tsv)"
rm -r sidecars scans.json scans.tsv

# --- GNU parallel -----------------------------------------------------------
mkdir "$tmp/parallel" && cd "$tmp/parallel" || exit 1
status=0
recipe "find \"\$study\" -name 'P*.7' -print0 | parallel -0 --tag --joblog melvane-jobs.txt melvane" \
  >out 2>err || status=$?
[ "$status" -eq 2 ] || fail "parallel: status $status, not 2 (the failed Pfiles)"
[ "$(awk 'NR > 1' melvane-jobs.txt | wc -l)" -eq 102 ] || fail "parallel: the job log lists other than 102 runs"
recipe "awk -F'\\t' 'NR > 1 && \$7 != 0 { print \$9 }' melvane-jobs.txt" >failed
failed=$(cat failed)
[ "$(wc -l <<<"$failed")" -eq 2 ] || fail "parallel: the job log shows other than two failures: $failed"
failed_pfiles=()
while IFS= read -r command; do  # the Pfile of each command, as the shell reads it
  eval "words=($command)" && failed_pfiles+=("${words[1]}")
done <failed
names_broken "parallel's job log" "${failed_pfiles[*]}"
outputs "$tmp/parallel"

# --- a read-only archive ----------------------------------------------------
mkdir -p "$tmp/archive/exam 2" "$tmp/collect" && cd "$tmp/collect" || exit 1
mkpfile rev20 "$tmp/archive/P12345.7" run=12345
mkpfile rev20 "$tmp/archive/exam 2/P12346.7" run=12346
chmod 555 "$tmp/archive" "$tmp/archive/exam 2"
archived=$(cd "$tmp/archive" && ls -lR)
for line in 'mkdir -p summaries && melvane -o summaries /archive/P12345.7' \
            "find /archive -name 'P*.7' -print0 | xargs -0 -n 1 -P \"\$(nproc)\" sh -c 'melvane -o summaries \"\$1\" || exit 1' sh"; do
  grep -qxF -- "$line" <<<"$recipes" || fail "docs/batch.md does not show: $line"
  ran+="$line"$'\n'
  rm -f summaries/*
  eval "${line//\/archive/$tmp/archive}" || fail "the archive recipe: status $?: $line"
done
[ "$(ls summaries | paste -sd ' ')" = "E01234S005P12345.7 E01234S005P12346.7 P12345.7.hdr P12346.7.hdr" ] &&
  cmp -s "$tmp/archive/exam 2/P12346.7" summaries/P12346.7.hdr ||
  fail "the archive recipes: not every header copy and summary in the folder: $(ls summaries)"
[ "$(ls -A)" = summaries ] || fail "the archive recipes wrote beside the folder: $(ls -A)"
[ "$(cd "$tmp/archive" && ls -lR)" = "$archived" ] || fail "the archive recipes wrote into the archive"

# --- Slurm --------------------------------------------------------------------
# Ports below the kernel's range for outgoing connections, which nothing
# listens on.
free_port() {  # [TAKEN]
  local low port
  read -r low _ </proc/sys/net/ipv4/ip_local_port_range
  for _ in $(seq 50); do
    port=$((10000 + RANDOM % (low - 10000)))
    [ "$port" != "${1:-}" ] && ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  done
  echo "$port"
}
node=$(uname -n) && node=${node%%.*}
ctld_port=$(free_port) && slurmd_port=$(free_port "$ctld_port")
export SLURM_CONF=$tmp/slurm.conf
# 50 CPUs on any machine (config_overrides): the tasks are tiny, and the
# page's %50 lets 50 run at once. batch_sched_delay=0 starts tasks as soon as
# others end instead of every 3 s.
cat >"$SLURM_CONF" <<CONF
ClusterName=recipes
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
CommunicationParameters=NoInAddrAny
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$tmp/sock/munge.socket
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/log/slurmctld.log
SlurmdLogFile=$tmp/log/slurmd.log
JobCompType=jobcomp/filetxt
JobCompLoc=$tmp/jobcomp.txt
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
MailProg=/bin/true
SchedulerType=sched/builtin
SchedulerParameters=batch_sched_delay=0,sched_min_interval=0
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SlurmdParameters=config_overrides
ReturnToService=2
NodeName=$node NodeAddr=127.0.0.1 CPUs=50 RealMemory=8000 State=UNKNOWN
PartitionName=recipes Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
mungekey -c -k "$tmp/munge/munge.key" || exit 1
munged -F --key-file="$tmp/munge/munge.key" --socket="$tmp/sock/munge.socket" \
  --pid-file="$tmp/munge/munged.pid" --seed-file="$tmp/munge/munged.seed" \
  --log-file="$tmp/log/munged.log" >"$tmp/log/munged.out" 2>&1 &
daemons+=($!)
slurmctld -D -f "$SLURM_CONF" >"$tmp/log/slurmctld.out" 2>&1 &
daemons+=($!)
slurmd -D -f "$SLURM_CONF" -N "$node" >"$tmp/log/slurmd.out" 2>&1 &
daemons+=($!)
# Each client call waits about 10 s for a controller that is not there.
node_state() { timeout 5 sinfo -h -n "$node" -o %t 2>&1; }
up_or_dead() {
  local pid
  for pid in "${daemons[@]}"; do kill -0 "$pid" 2>/dev/null || return 0; done
  [ "$(node_state)" = idle ]
}
if ! wait_for 30 up_or_dead || [ "$(node_state)" != idle ]; then
  tail -n 5 "$tmp"/log/*.out >&2
  fail "the Slurm node did not come up"
  exit 1
fi
echo "Slurm up after $((SECONDS - started)) s"

mkdir "$tmp/slurm" && cd "$tmp/slurm" || exit 1
cp "$source/docs/melvane-array.sbatch" .
recipe "find \"\$study\" -name 'P*.7' >pfiles.txt"
recipe "sbatch --array=1-\"\$(wc -l <pfiles.txt)\"%50 melvane-array.sbatch" >submitted
submitted=$(cat submitted)
job=${submitted#Submitted batch job }
[[ $job =~ ^[0-9]+$ ]] || { fail "sbatch answered: $submitted"; exit 1; }
records() { grep -s "ArrayJobId=$job " "$tmp/jobcomp.txt"; }
all_recorded() { [ "$(records | wc -l)" -ge 102 ]; }
wait_for 60 all_recorded
echo "job array ended after $((SECONDS - started)) s"
[ "$(records | wc -l)" -eq 102 ] || fail "Slurm recorded $(records | wc -l) of 102 tasks"
[ "$(records | grep -c ' JobState=COMPLETED ')" -eq 100 ] ||
  fail "Slurm recorded $(records | grep -c ' JobState=COMPLETED ') completed tasks, not 100"
failed_tasks=$(records | grep ' JobState=FAILED .* ExitCode=1:0' | grep -o 'ArrayTaskId=[0-9]*' | sort)
[ "$(wc -l <<<"$failed_tasks")" -eq 2 ] || fail "Slurm's job completion log shows these failed: $failed_tasks"
recipe "scontrol -o show job \"\$job\" | grep JobState=FAILED | grep -o 'ArrayTaskId=[0-9]*'" >shown
shown=$(sort shown)
[ "$shown" = "$failed_tasks" ] || fail "scontrol shows failed '$shown', the completion log '$failed_tasks'"
recipe "grep '^melvane: ' melvane-\"\$job\"_*.log" >logged
logged=$(cat logged)
broken=()
for task in ${failed_tasks//ArrayTaskId=/}; do
  pfile=$(sed -n "${task}p" pfiles.txt)
  grep -qF "melvane: $pfile: " "melvane-${job}_$task.log" ||
    fail "task $task's log does not name $pfile: $(cat "melvane-${job}_$task.log")"
  broken+=("$pfile")
done
names_broken "the failed tasks" "${broken[*]}"
names_broken "the recipe's grep" "$logged"
outputs "$tmp/slurm"

# Every command of the page was run.
while IFS= read -r line; do
  grep -qxF -- "$line" <<<"$ran" || fail "docs/batch.md shows a command this test does not run: $line"
done <<<"$recipes"

# The step daemons end on their own soon after their task; slurmd must
# outlive them, so that they can report to it.
no_steps() { [ -z "$(step_pids)" ]; }
wait_for 20 no_steps || fail "step daemons still running 20 s after the job: $(step_pids)"
cleanup
trap - EXIT
[ "$(system_places)" = "$places_before" ] || fail "files changed where Debian's munge and slurm keep theirs"
echo "cluster: $((SECONDS - started)) s"
[ "$failures" -eq 0 ] && echo "cluster: all checks passed"
exit $((failures > 0))
