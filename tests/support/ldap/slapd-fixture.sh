#!/usr/bin/env bash
# A throw-away LDAP directory for the tests: a test CA and a server certificate for 127.0.0.1, a
# small database loaded with slapadd, and slapd serving it on loopback with ldap:// (StartTLS)
# and ldaps://. Run it only inside a network namespace of the test's own, so that the server is
# reachable from nowhere else.
#
#   slapd-fixture.sh start DIR LDAP_PORT LDAPS_PORT   makes DIR's contents and starts slapd
#   slapd-fixture.sh serve DIR LDAP_PORT LDAPS_PORT   starts slapd again over what start made
#   slapd-fixture.sh stop DIR                         stops it (DIR stays for the caller to remove)
#
# The directory (suffix dc=orvane,dc=lab), passwords in clear since nothing of it outlives the test:
#   cn=reader,dc=orvane,dc=lab            reader-pass   the search account
#   uid=alice,ou=people,dc=orvane,dc=lab  alice-pass    in cn=storage-admins and cn=staff
#   uid=jürgen,ou=people,dc=orvane,dc=lab jurgen-pass   in cn=staff
#   uid=bob,ou=people,dc=orvane,dc=lab    bob-pass      in no group
# DIR/ca.pem is the CA to trust; DIR/other-ca.pem a CA that signed nothing of the server's.
set -euo pipefail

die() {
    echo "slapd-fixture: $*" >&2
    exit 1
}

make_certificates() {
    local dir=$1
    local subj=/O=OrvaneLab
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -subj "$subj/CN=Lab CA" -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -subj "$subj/CN=Other CA" -keyout "$dir/other-ca.key" -out "$dir/other-ca.pem" 2>/dev/null
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
        -subj "$subj/CN=127.0.0.1" -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >"$dir/server.ext"
    openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
        -CAcreateserial -days 2 -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
    chmod 600 "$dir/server.key"
}

write_config() {
    local dir=$1
    cat >"$dir/slapd.conf" <<CONF
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
modulepath /usr/lib/ldap
moduleload back_mdb
pidfile $dir/slapd.pid
argsfile $dir/slapd.args
TLSCACertificateFile $dir/ca.pem
TLSCertificateFile $dir/server.pem
TLSCertificateKeyFile $dir/server.key
database mdb
maxsize 16777216
suffix "dc=orvane,dc=lab"
rootdn "cn=root,dc=orvane,dc=lab"
rootpw root-pass
directory $dir/db
access to attrs=userPassword by self read by anonymous auth by * none
access to * by * read
CONF
}

write_data() {
    local dir=$1 base=dc=orvane,dc=lab
    local jurgen
    jurgen=$(printf 'uid=j\xc3\xbcrgen,ou=people,%s' "$base" | base64 -w0)
    cat >"$dir/data.ldif" <<LDIF
dn: $base
objectClass: dcObject
objectClass: organization
dc: orvane
o: Orvane lab

dn: ou=people,$base
objectClass: organizationalUnit
ou: people

dn: ou=groups,$base
objectClass: organizationalUnit
ou: groups

dn: cn=reader,$base
objectClass: person
cn: reader
sn: reader
userPassword: reader-pass

dn: uid=alice,ou=people,$base
objectClass: inetOrgPerson
uid: alice
cn: Alice
sn: Lab
userPassword: alice-pass

dn:: $jurgen
objectClass: inetOrgPerson
uid:: $(printf 'j\xc3\xbcrgen' | base64 -w0)
cn: Juergen
sn: Lab
userPassword: jurgen-pass

dn: uid=bob,ou=people,$base
objectClass: inetOrgPerson
uid: bob
cn: Bob
sn: Lab
userPassword: bob-pass

dn: cn=storage-admins,ou=groups,$base
objectClass: groupOfNames
cn: storage-admins
member: uid=alice,ou=people,$base

dn: cn=staff,ou=groups,$base
objectClass: groupOfNames
cn: staff
member: uid=alice,ou=people,$base
member:: $jurgen
LDIF
}

start() {
    local dir=$1 port=$2 tls_port=$3
    mkdir -p "$dir/db"
    make_certificates "$dir"
    write_config "$dir"
    write_data "$dir"
    slapadd -q -f "$dir/slapd.conf" -l "$dir/data.ldif" >/dev/null ||
        die "slapadd refused the test data"
    serve "$dir" "$port" "$tls_port"
}

serve() {
    local dir=$1 port=$2 tls_port=$3
    rm -f "$dir/slapd.pid"
    slapd -f "$dir/slapd.conf" -h "ldap://127.0.0.1:$port/ ldaps://127.0.0.1:$tls_port/" ||
        die "slapd did not start"
    local i
    for i in $(seq 1 100); do
        if [ -s "$dir/slapd.pid" ] &&
            ldapsearch -x -LLL -o nettimeout=1 -H "ldap://127.0.0.1:$port/" -b "" -s base \
                namingContexts >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
    done
    die "slapd did not answer within 10 seconds"
}

stop() {
    local dir=$1 pid i
    [ -s "$dir/slapd.pid" ] || return 0
    pid=$(cat "$dir/slapd.pid")
    kill "$pid" 2>/dev/null || return 0
    for i in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}

case ${1:-} in
    start) [ $# -eq 4 ] || die "usage: $0 start DIR LDAP_PORT LDAPS_PORT"; start "$2" "$3" "$4" ;;
    serve) [ $# -eq 4 ] || die "usage: $0 serve DIR LDAP_PORT LDAPS_PORT"; serve "$2" "$3" "$4" ;;
    stop) [ $# -eq 2 ] || die "usage: $0 stop DIR"; stop "$2" ;;
    *) die "usage: $0 start DIR LDAP_PORT LDAPS_PORT | stop DIR" ;;
esac
