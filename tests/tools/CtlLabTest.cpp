// orvanectl as a Unix tool against the headless program in the namespace lab: every command's
// help does nothing and needs no running copy, input that cannot be right is refused where it is
// typed with nothing changed, listings parse as JSON (with booleans) and as CSV, an import tried
// with --dry-run and an export onto an existing file change nothing.
#include "tests/tools/CLabArray.h"
#include "tests/tools/CLabTest.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using CtlLab = CLabTest;

const std::string kScript = R"sh(
export XDG_CONFIG_HOME="$LAB_DIR/config" XDG_STATE_HOME="$LAB_DIR/state"
mkdir -p "$LAB_DIR/www" "$LAB_DIR/work" && cd "$LAB_DIR/work"
snapshot() { ls -A "$LAB_DIR/work"; ls -A "$LAB_DIR" | grep -v '^work$'; }
snapshot >"$LAB_DIR/before.ls"
bad=0
for cmd in status servers refresh users groups "user add" "user set" "user del" user \
    "group add" "group set" "group del" "group show" group login export import seal unseal \
    "seal-key new" seal-key audit "ldap test" ldap; do
    for h in -h --help; do
        # A name or file beside the help is never used, and nothing is asked for.
        out=$(orvanectl $cmd $h x </dev/null 2>&1) || bad=$((bad + 1))
        case $out in "usage: orvanectl ${cmd%% *}"*) ;; *) bad=$((bad + 1)) ;; esac
    done
done
echo "help failures $bad"
orvanectl --version | grep -c '^orvanectl [0-9]'
snapshot | cmp -s - "$LAB_DIR/before.ls" && echo "nothing written"

OrvaneSrv --headless --www "$LAB_DIR/www" 2>>"$LAB_DIR/err" &
pid=$!
for i in $(seq 200); do orvanectl status >/dev/null 2>&1 && break; sleep 0.05; done
grep -c 'orvanectl user set admin --ask-password' "$LAB_DIR/err"
orvanectl refresh >/dev/null
state() { orvanectl users --json; orvanectl groups --json; }
state >"$LAB_DIR/state.before"
for refused in "user add a:b" "group add g --access 02:4f:52:00:00:0" "audit --event nope" \
    "export --help.ovx" "user add -- ann:x" "group set Everyone --ldap-groups cn=a,dc=x nope"; do
    orvanectl $refused </dev/null 2>/dev/null; echo "refused $?"
done
state | cmp -s - "$LAB_DIR/state.before" && echo "state unchanged"
ls "$LAB_DIR/work" | wc -l

python3 -c '
import json, subprocess as s
j = lambda *a: json.loads(s.run(["orvanectl", *a], capture_output=True, check=True).stdout)
st = j("status", "--json")
print(st["adminDefaultPassword"] is True, sorted(st["https"]) == ["fingerprint", "port", "reason", "state"])
print(all(type(r["auth"]) is bool for r in j("servers", "--json")), len(j("servers", "--json")))'
orvanectl users --csv | python3 -c 'import csv, sys; print(next(csv.reader(sys.stdin)))'
printf 'secret\n' | orvanectl login "$(sed -n 1p "$LAB_ARRAYS" | cut -d' ' -f4 | tr a-f A-F)" \
    --user admin --password-stdin | tail -n 1

orvanectl export dir >/dev/null; echo "export $?"
cp dir.ovx copy.ovx
printf 'pw\n' | orvanectl user add bob --password-stdin
orvanectl export dir 2>"$LAB_DIR/again"; echo "again $?"
sed "s|$LAB_DIR/work/||" "$LAB_DIR/again"
cmp -s dir.ovx copy.ovx && echo "file kept"
orvanectl export --force dir >/dev/null; echo "forced $?"
orvanectl user del bob
state >"$LAB_DIR/state.before"
orvanectl import --dry-run dir.ovx | grep -c '^users added (1): bob$'
state | cmp -s - "$LAB_DIR/state.before" && echo "dry run changed nothing"
grep -c '"event":"import"' "$XDG_STATE_HOME/OrvaneSrv/audit.log"
head -c 9 dir.ovx >cut.ovx
orvanectl import cut.ovx 2>&1 | sed "s|$LAB_DIR/work/||"
printf 'new-pw\nnew-pw\n' | orvanectl user set admin --password-stdin
orvanectl status --json | grep -o '"adminDefaultPassword": [a-z]*'
kill -TERM $pid; wait $pid; echo "stop $?"
)sh";

TEST_F(CtlLab, OrvanectlHelpsRefusesAndListsForScriptsChangingNothing) {
    const LabResult result =
        Run("--arrays 2", kScript, {"--admin-password secret", "--admin-password secret"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines,
              (std::vector<std::string>{"help failures 0",
                                        "1",
                                        "nothing written",
                                        "1",
                                        "refused 2",
                                        "refused 2",
                                        "refused 2",
                                        "refused 2",
                                        "refused 2",
                                        "refused 2",
                                        "state unchanged",
                                        "0",
                                        "True True",
                                        "True 2",
                                        "['User', 'Groups']",
                                        "1 logged in, 0 failed, 0 skipped",
                                        "export 0",
                                        "again 1",
                                        "orvanectl: dir.ovx exists: give --force to replace it",
                                        "file kept",
                                        "forced 0",
                                        "1",
                                        "dry run changed nothing",
                                        "0",
                                        "cut.ovx: truncated at byte 9",
                                        "\"adminDefaultPassword\": false",
                                        "stop 0"}));
}

} // namespace
