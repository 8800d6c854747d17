// Users of a site's LDAP directory against the headless program in the namespace lab, with a real
// slapd on a throw-away database (tests/support/ldap) in the lab's manager namespace: a directory
// user in a mapped group gets exactly that group's arrays; wrong and empty passwords, filter
// metacharacters, a user in no mapped group and a stopped directory get the canned 401 while a
// local user keeps working; the outage is logged once and shown in status; a change in the
// directory shows once the cache's time is over; "ldap test" shows each step.
#include "tests/support/TestGate.h"
#include "tests/tools/CLabTest.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using LdapLab = CLabTest;

const std::string kScript = R"sh(
export XDG_CONFIG_HOME="$LAB_DIR/config" XDG_STATE_HOME="$LAB_DIR/state"
fixture="$ORVANE_SOURCE_DIR/tests/support/ldap/slapd-fixture.sh"
ldap="$LAB_DIR/ldap"
mkdir -p "$LAB_DIR/www" "$ldap" "$XDG_CONFIG_HOME/OrvaneSrv"
"$fixture" start "$ldap" 3890 6360 >/dev/null || exit 1
conf="$XDG_CONFIG_HOME/OrvaneSrv"
printf '[ldap]\nuri = ldaps://127.0.0.1:6360\nbase = dc=orvane,dc=lab\ntmeout = 2\n' >"$conf/orvanesrv.conf"
OrvaneSrv --headless --www "$LAB_DIR/www" >/dev/null 2>"$LAB_DIR/refused"; echo "refused $?"
sed "s|$conf/||" "$LAB_DIR/refused"
printf 'reader-pass\n' >"$conf/reader.pw"; chmod 600 "$conf/reader.pw"
cat >"$conf/orvanesrv.conf" <<CONF
[ldap]
uri = ldaps://127.0.0.1:6360
ca_file = $ldap/ca.pem
base = dc=orvane,dc=lab
bind_dn = cn=reader,dc=orvane,dc=lab
bind_password_file = reader.pw
group_filter = (&(objectClass=groupOfNames)(member=%s))
timeout = 2
cache_seconds = 4
CONF
OrvaneSrv --headless --www "$LAB_DIR/www" 2>>"$LAB_DIR/err" &
pid=$!
for i in $(seq 200); do orvanectl status >/dev/null 2>&1 && break; sleep 0.05; done
orvanectl refresh >/dev/null
mac1=$(sed -n 1p "$LAB_ARRAYS" | cut -d' ' -f4); mac2=$(sed -n 2p "$LAB_ARRAYS" | cut -d' ' -f4)
printf 'secret\n' | orvanectl login "$mac1" "$mac2" --user admin --password-stdin | tail -n 1
orvanectl group add ops --access "$mac1"
orvanectl group set ops --ldap-groups "cn=storage-admins, ou=groups,dc=orvane,dc=lab"
orvanectl group add other --access "$mac2"
printf 'carol-pass\n' | orvanectl user add carol --groups other --password-stdin

# The answer's arrays by MAC and the HTTP status.
query() {
    printf 'x\n' | curl -s -w ' %{http_code}' -u "$1" --data-binary @- \
        http://127.0.0.1:51001/Query | grep -o 'MAC="[^"]*"\| [0-9]*$' | tr -d '\n' |
        sed "s/$mac1/mac1/; s/$mac2/mac2/"
    echo
}
echo "alice $(query alice:alice-pass)"
echo "carol $(query carol:carol-pass)"
for refused in alice:wrong alice: '*:alice-pass' ')(uid=*:x' 'alice)(uid=*:alice-pass' \
    bob:bob-pass 'jürgen:jurgen-pass'; do
    echo "refused$(query "$refused")"
done
audit="$XDG_STATE_HOME/OrvaneSrv/audit.log"
grep -c '"event":"sign-in","source":"ldap"' "$audit"
grep '"event":"query","source":"ldap"' "$audit" | grep -c '"dn":"uid=alice,ou=people,dc=orvane,dc=lab"'

printf 'alice-pass\n' | orvanectl ldap test alice --password-stdin >"$LAB_DIR/steps"
echo "test $?"
sed 's/  */ /g' "$LAB_DIR/steps"
printf 'nope\n' | orvanectl ldap test alice --password-stdin | tail -n 1 | sed 's/  */ /g'

# The directory stops: its users get the 401 after the timeout, local users are not held up.
sleep 4.5
"$fixture" stop "$ldap"
for i in 1 2 3; do echo "stopped$(query alice:alice-pass)"; done
echo "local $(query carol:carol-pass)"
grep -c 'the LDAP directory does not answer' "$LAB_DIR/err"
orvanectl status --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["ldap"]["answering"])'
"$fixture" serve "$ldap" 3890 6360 >/dev/null
echo "back $(query alice:alice-pass)"
grep -c 'the LDAP directory answers again' "$LAB_DIR/err"

# Alice leaves the mapped group in the directory: refused once her cached sign-in is over.
printf 'dn: cn=storage-admins,ou=groups,dc=orvane,dc=lab\nchangetype: modify\nreplace: member\nmember: uid=bob,ou=people,dc=orvane,dc=lab\n' |
    ldapmodify -x -H ldap://127.0.0.1:3890 -D cn=root,dc=orvane,dc=lab -w root-pass >/dev/null
for i in $(seq 40); do [ "$(query alice:alice-pass)" = " 401" ] && break; sleep 0.25; done
echo "after the change$(query alice:alice-pass)"
kill -TERM $pid; wait $pid; echo "stop $?"
"$fixture" stop "$ldap"
)sh";

TEST_F(LdapLab, DirectoryUsersGetTheirMappedArraysAndNothingElse) {
    ORVANE_GATE("netns", "slapd", "slapadd", "ldapmodify", "openssl", "curl");
    const LabResult result =
        Run("--arrays 2", "ORVANE_SOURCE_DIR='" + std::string(ORVANE_SOURCE_DIR) + "'\n" + kScript,
            {"--admin-password secret", "--admin-password secret"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, (std::vector<std::string>{
                                "refused 2",
                                "OrvaneSrv: the settings file orvanesrv.conf is refused: line 4: "
                                "unknown key 'tmeout' in [ldap]",
                                "2 logged in, 0 failed, 0 skipped",
                                "alice MAC=\"mac1\" 200",
                                "carol MAC=\"mac2\" 200",
                                "refused 401",
                                "refused 401",
                                "refused 401",
                                "refused 401",
                                "refused 401",
                                "refused 401",
                                "refused 401",
                                "1",
                                "1",
                                "test 0",
                                "connect: ok ldaps://127.0.0.1:6360",
                                "TLS: ok ldaps://, the server's certificate checked",
                                "search: ok uid=alice,ou=people,dc=orvane,dc=lab",
                                "bind: ok the password was accepted",
                                "groups: ok 2 groups",
                                " cn=storage-admins,ou=groups,dc=orvane,dc=lab",
                                " cn=staff,ou=groups,dc=orvane,dc=lab",
                                "mapped: ok Everyone, ops",
                                "bind: failed invalid credentials: bind: Invalid credentials",
                                "stopped 401",
                                "stopped 401",
                                "stopped 401",
                                "local MAC=\"mac2\" 200",
                                "1",
                                "False",
                                "back MAC=\"mac1\" 200",
                                "1",
                                "after the change 401",
                                "stop 0"}));
}

} // namespace
