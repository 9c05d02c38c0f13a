#!/usr/bin/env bash
# CI: contrib/ansible/search.yml run for real over a small fleet on this
# machine. Hosts alpha and beta are network namespaces, each with its own sshd
# on its own address and its own NTFS test volume linked as drive C; alpha
# gets Morla from the Debian package, beta as a binary, and beta's search also
# names a drive D whose image is gone. gamma is a namespace where nothing
# listens. Checked: each host's results, messages and status are what Morla
# prints and returns for the same search run here, the merged file labels
# every line with its host, gamma is listed as unreachable without stopping
# the others, and the playbook's status says not every host was searched
# cleanly. The Windows side can only be syntax-checked and its tasks listed;
# ansible-lint over the playbook. Installs what it lacks (root); everything it
# sets up goes again on exit.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
start=$(date +%s)

scripts/install-packages.sh cmake ninja-build g++ gzip dpkg-dev file ansible ansible-lint \
    openssh-server openssh-client python3-apt iproute2 sudo

# ---- Morla as the hosts get it: the release build and its Debian package ------
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target morla >/dev/null
deb=$(ls build/release/morla_*.deb 2>/dev/null | head -1 || true)
if [ -z "$deb" ] || [ build/release/morla -nt "$deb" ]; then
    rm -f build/release/morla_*.deb
    (cd build/release && cpack -G DEB >/dev/null)
    deb=$(ls build/release/morla_*.deb)
fi

work=$(mktemp -d /tmp/morla-fleet.XXXXXX)
id=$(( $$ % 100000 ))
net=$(( $$ % 250 + 1 ))
hosts=(alpha beta gamma)
sshd_pids=()
installed_before=no
dpkg-query -W -f='${Status}' morla 2>/dev/null | grep -q 'install ok installed' && installed_before=yes
cleanup() {
    for pid in "${sshd_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${sshd_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    for n in 1 2 3; do ip netns del "morla-fleet-$id-$n" 2>/dev/null || true; done
    if [ "$installed_before" = no ] && dpkg-query -W morla >/dev/null 2>&1; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq morla >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

checks=0 failures=0
pass() { checks=$((checks + 1)); echo "fleet: ok: $1"; }
fail() {
    checks=$((checks + 1)) failures=$((failures + 1))
    echo "fleet: FAIL: $1"
    [ $# -lt 2 ] || printf '%s\n' "$2" | head -40
}
# expect NAME WANT GOT: passes when the texts are equal.
expect() {
    if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "$(printf 'expected:\n%s\ngot:\n%s' "$2" "$3")"; fi
}
# same NAME FILE FILE: passes when the files hold the same bytes.
same() {
    if cmp -s "$2" "$3"; then pass "$1"; else fail "$1" "$(diff "$2" "$3" | head -20)"; fi
}

# ---- the hosts: a namespace each, joined to this one by a pair of links ----------
# Host n is 10.<200+n>.<net>.2, this side of its link .1.
address() { echo "10.$((200 + $1)).$net.$2"; }
ssh-keygen -q -t ed25519 -N '' -f "$work/controller_key"
cp "$work/controller_key.pub" "$work/authorized_keys"
: >"$work/known_hosts"
mkdir -p /run/sshd   # sshd's own empty folder, which its package keeps
for n in 1 2 3; do
    ns=morla-fleet-$id-$n host=${hosts[n - 1]}
    ip netns add "$ns"
    ip link add "mfl$id-$n" type veth peer name "mfl$id-${n}h"
    ip link set "mfl$id-${n}h" netns "$ns"
    ip addr add "$(address $n 1)/30" dev "mfl$id-$n"
    ip link set "mfl$id-$n" up
    ip -n "$ns" addr add "$(address $n 2)/30" dev "mfl$id-${n}h"
    ip -n "$ns" link set "mfl$id-${n}h" up
    ip -n "$ns" link set lo up
    [ "$host" != gamma ] || continue
    mkdir "$work/$host"
    ssh-keygen -q -t ed25519 -N '' -f "$work/$host/host_key"
    echo "$(address $n 2) $(cat "$work/$host/host_key.pub")" >>"$work/known_hosts"
    cat >"$work/$host/sshd_config" <<EOF
ListenAddress $(address $n 2)
HostKey $work/$host/host_key
PidFile $work/$host/sshd.pid
AuthorizedKeysFile $work/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp /usr/lib/openssh/sftp-server
EOF
    ip netns exec "$ns" /usr/sbin/sshd -D -e -f "$work/$host/sshd_config" 2>"$work/$host/sshd.log" &
    sshd_pids+=($!)
done

# ---- each host's volume, and the search as it will run there ----------------------
gzip -dc tests/fixtures/names.img.gz >"$work/alpha/volume.img"
gzip -dc samples/sample-volume.img.gz >"$work/beta/volume.img"
mkdir "$work/beta-bin"
cat >"$work/inventory.yml" <<EOF
all:
  vars:
    ansible_user: root
    ansible_ssh_private_key_file: $work/controller_key
    ansible_python_interpreter: /usr/bin/python3
  hosts:
    alpha:
      ansible_host: $(address 1 2)
      morla_deb: $top/$deb
      morla_volumes: {C: $work/alpha/volume.img}
    beta:
      ansible_host: $(address 2 2)
      morla_binary: build/release/morla
      morla_install_dir: $work/beta-bin
      morla_volumes: {C: $work/beta/volume.img, D: $work/beta/gone.img}
    gamma:
      ansible_host: $(address 3 2)
    delta:
      ansible_host: $(address 1 2)
      morla_binary: $work/no-such-morla
      morla_install_dir: $work/beta-bin
EOF
cat >"$work/ansible.cfg" <<EOF
[defaults]
home = $work/ansible-home
local_tmp = $work/ansible-local
remote_tmp = $work/ansible-remote
retry_files_enabled = false
nocolor = true
forks = 5
timeout = 10
[ssh_connection]
ssh_args = -o ControlMaster=no -o ControlPath=none -o UserKnownHostsFile=$work/known_hosts -o StrictHostKeyChecking=yes
pipelining = true
EOF
export ANSIBLE_CONFIG=$work/ansible.cfg

for n in 1 2; do
    for try in $(seq 50); do
        ip netns exec "morla-fleet-$id-$n" ss -Hltn | grep -q ":22\b" && break
        sleep 0.1
    done
done

# ---- the run -------------------------------------------------------------------
pattern='*'
status=0
ansible-playbook -i "$work/inventory.yml" contrib/ansible/search.yml \
    -e "morla_pattern=$pattern" -e "morla_results=$work/results" >"$work/run.log" 2>&1 || status=$?
sed -n '/PLAY RECAP/,$p' "$work/run.log"
sed -n '/Show the summary/,/^$/p' "$work/run.log"
expect "the playbook ends with status 2: not every host was searched cleanly" 2 "$status"
grep -q 'Not searched with status 0: ' "$work/run.log" && pass "the playbook names the hosts not searched cleanly" ||
    fail "the playbook names the hosts not searched cleanly" "$(tail -30 "$work/run.log")"

# What Morla prints here on each host's volumes, with the program the host got.
local_search() { # HOST PROGRAM LETTER...
    local host=$1 program=$2; shift 2
    mkdir -p "$work/local/$host/dosdevices"
    ln -sfn "$work/$host/volume.img" "$work/local/$host/dosdevices/c::"
    [ "$host" != beta ] || ln -sfn "$work/beta/gone.img" "$work/local/$host/dosdevices/d::"
    local rc=0
    WINEPREFIX=$work/local/$host "$program" "$pattern" "$@" >"$work/local/$host.txt" 2>"$work/local/$host.err" || rc=$?
    echo "$rc" >"$work/local/$host.status"
}
local_search alpha /usr/bin/morla C
local_search beta "$work/beta-bin/morla" C D
expect "alpha got the package's morla" /usr/bin/morla "$(dpkg -L morla 2>/dev/null | grep -x /usr/bin/morla || true)"
same "beta got the binary" build/release/morla "$work/beta-bin/morla"
for host in alpha beta; do
    same "$host: results/$host.txt is what morla prints on its volume here" "$work/local/$host.txt" "$work/results/$host.txt"
    same "$host: results/$host.err is what morla says here" "$work/local/$host.err" "$work/results/$host.err"
done
lines_alpha=$(wc -l <"$work/local/alpha.txt") lines_beta=$(wc -l <"$work/local/beta.txt")
[ "$lines_alpha" -gt 10 ] && [ "$lines_beta" -gt 10 ] && pass "each volume gives results ($lines_alpha, $lines_beta)" ||
    fail "each volume gives results ($lines_alpha, $lines_beta)"
if grep -qx 'Unable to access drive D' "$work/results/beta.err"; then pass "beta says drive D is missing"; else
    fail "beta says drive D is missing" "$(cat "$work/results/beta.err")"; fi
expect "merged.txt: every line after its host and a tab, host by host" \
    "$( (sed 's/^/alpha\t/' "$work/local/alpha.txt"; sed 's/^/beta\t/' "$work/local/beta.txt") | md5sum)" \
    "$(md5sum <"$work/results/merged.txt")"
summary=$(cut -f1-3 "$work/results/summary.txt")
expect "summary.txt: lines found and the status morla returned here, gamma unreachable, delta failed" \
    "$(printf 'alpha\t%s\t%s\nbeta\t%s\t%s\ngamma\t-\tunreachable\ndelta\t-\tfailed' \
        "$lines_alpha" "$(cat "$work/local/alpha.status")" "$lines_beta" "$(cat "$work/local/beta.status")")" \
    "$summary"
echo "fleet: beta's search with drive D missing returned status $(cat "$work/local/beta.status") here and on the host"
if grep -q "^gamma"$'\t-\tunreachable\t'".*$(address 3 2)" "$work/results/summary.txt"; then
    pass "gamma's line says why"; else fail "gamma's line says why" "$(cat "$work/results/summary.txt")"; fi
if grep -q $'^delta\t-\tfailed\tLinux: Install the binary: .*no-such-morla' "$work/results/summary.txt"; then
    pass "delta's line names the task that failed"; else fail "delta's line names the task that failed" "$(cat "$work/results/summary.txt")"; fi
[ ! -e "$work/results/gamma.txt" ] && [ ! -e "$work/results/delta.txt" ] && pass "gamma and delta have no results file" ||
    fail "gamma and delta have no results file"

# ---- the Windows side and the example inventories, without hosts -------------------
for inventory in linux windows; do
    if out=$(ansible-playbook --syntax-check -i contrib/ansible/inventory/$inventory.yml contrib/ansible/search.yml 2>&1); then
        pass "--syntax-check with the $inventory example inventory"
    else
        fail "--syntax-check with the $inventory example inventory" "$out"
    fi
done
tasks=$(ansible-playbook --list-tasks -i contrib/ansible/inventory/windows.yml contrib/ansible/search.yml 2>&1 || true)
echo "$tasks" | grep 'Windows:'
missing=""
for task in "Make the host's work folder" "Copy the zip" "Install morla.exe" Search "Fetch the results" \
    "Fetch the messages" "Note the search's status"; do
    grep -qF "morla_search : Windows: $task" <<<"$tasks" || missing+=" '$task'"
done
expect "--list-tasks lists every Windows task" "" "$missing"

# ---- ansible-lint ---------------------------------------------------------------------
lint_status=0
(cd contrib/ansible && ansible-lint --offline --nocolor --profile production) >"$work/lint" 2>&1 || lint_status=$?
grep -v '^WARNING  Unable to load module ansible.windows' "$work/lint" | tail -3
expect "ansible-lint (production profile) passes" 0 "$lint_status"

total=$(( $(date +%s) - start ))
if [ "$failures" -eq 0 ]; then
    echo "fleet: PASSED: $checks checks ($total s)"
else
    echo "fleet: FAILED: $failures of $checks checks ($total s)"
    echo "---- playbook output"; cat "$work/run.log"
    exit 1
fi
