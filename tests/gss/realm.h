// SPDX-License-Identifier: MIT
// Real RPCSEC_GSS peers for the network tests, inside the test's own
// network namespace: a throwaway MIT Kerberos realm (configuration,
// database, keytabs and credential cache in a temporary directory, the KDC
// on a loopback port of its own), rpcbind, and NFS-Ganesha exporting a
// temporary directory with sys, krb5, krb5i and krb5p. Everything started
// here is stopped by its PID when the fixture goes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "child_process.h"
#include "port_probe.h"

namespace gsspeers {

constexpr const char* kRealm = "QEL.TEST";
constexpr uint16_t kKdcPort = 8888;  // the namespace's own loopback
constexpr uint16_t kNfsPort = 2049;

inline bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream f(path);
    f << text;
    return static_cast<bool>(f);
}

inline bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

class Realm {
  public:
    // Empty when a tool is missing or a step failed; why() tells which.
    bool start() {
        for (const char* tool : {"/usr/sbin/krb5kdc", "/usr/sbin/kdb5_util", "/usr/sbin/kadmin.local", "/usr/bin/kinit"}) {
            if (access(tool, X_OK) != 0) return fail(std::string(tool) + " is not installed (krb5-kdc, krb5-admin-server, krb5-user)");
        }
        char tmpl[] = "/tmp/qelrpc-gss-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) return fail("no temporary directory");
        dir_ = tmpl;
        const std::string port = std::to_string(kKdcPort);
        if (!writeFile(dir_ + "/krb5.conf",
                       "[libdefaults]\n default_realm = QEL.TEST\n dns_canonicalize_hostname = false\n"
                       " rdns = false\n dns_lookup_kdc = false\n dns_lookup_realm = false\n"
                       " ignore_acceptor_hostname = true\n"
                       "[realms]\n QEL.TEST = {\n  kdc = 127.0.0.1:" + port + "\n }\n"
                       "[domain_realm]\n localhost = QEL.TEST\n") ||
            !writeFile(dir_ + "/kdc.conf",
                       "[kdcdefaults]\n kdc_ports = " + port + "\n kdc_tcp_ports = " + port + "\n"
                       "[realms]\n QEL.TEST = {\n  database_name = " + dir_ + "/principal\n"
                       "  key_stash_file = " + dir_ + "/stash\n }\n"
                       "[logging]\n kdc = FILE:" + dir_ + "/kdc.log\n")) {
            return fail("cannot write the realm's configuration");
        }
        setenv("KRB5_CONFIG", (dir_ + "/krb5.conf").c_str(), 1);
        setenv("KRB5_KDC_PROFILE", (dir_ + "/kdc.conf").c_str(), 1);
        setenv("KRB5CCNAME", ("FILE:" + dir_ + "/ccache").c_str(), 1);
        setenv("KRB5_KTNAME", ("FILE:" + dir_ + "/service.keytab").c_str(), 1);
        if (!run("kdb5_util create -s -r QEL.TEST -P throwaway-master") ||
            !run("kadmin.local -q 'addprinc -randkey nfs/localhost'") ||
            !run("kadmin.local -q 'addprinc -randkey alice'") ||
            !run("kadmin.local -q 'ktadd -k " + dir_ + "/service.keytab nfs/localhost'") ||
            !run("kadmin.local -q 'ktadd -k " + dir_ + "/alice.keytab alice'")) {
            return fail("creating the realm's database failed");
        }
        if (!kdc_.start({"/usr/sbin/krb5kdc", "-n"}) || !portprobe::waitFor(kKdcPort, std::chrono::seconds(5))) {
            return fail("the KDC did not come up");
        }
        if (!run("kinit -k -t " + dir_ + "/alice.keytab alice")) return fail("kinit alice failed");
        return true;
    }

    const std::string& dir() const { return dir_; }
    const std::string& why() const { return why_; }
    ~Realm() {
        kdc_.stop();
        if (!dir_.empty()) run("rm -rf " + dir_);
    }

  private:
    bool fail(const std::string& why) {
        why_ = why;
        return false;
    }
    testproc::Child kdc_;
    std::string dir_;
    std::string why_;
};

// NFS-Ganesha in the foreground, registered with the rpcbind it needs.
class Ganesha {
  public:
    // privilegedPort: the export takes calls only from source ports below
    // 1024 (its PrivilegedPort option). withRpcbind false: an rpcbind that
    // already runs in the namespace takes Ganesha's registrations.
    bool start(const Realm& realm, bool privilegedPort = false, bool withRpcbind = true) {
        if (access("/usr/bin/ganesha.nfsd", X_OK) != 0) return fail("ganesha.nfsd is not installed (nfs-ganesha, nfs-ganesha-vfs)");
        if (access("/usr/sbin/rpcbind", X_OK) != 0) return fail("rpcbind is not installed");
        if (portprobe::answers(kNfsPort)) return fail("port 2049 is taken");
        const std::string d = realm.dir();
        exportDir_ = d + "/export";
        if (!run("mkdir -p " + exportDir_ + " " + d + "/recovery")) return fail("no export directory");
        if (!writeFile(d + "/ganesha.conf",
                       "NFS_CORE_PARAM {\n Protocols = 3, 4;\n NFS_Port = 2049;\n Enable_NLM = false;\n"
                       " Enable_RQUOTA = false;\n}\n"
                       "NFSV4 {\n Graceless = true;\n RecoveryBackend = fs;\n RecoveryRoot = " + d + "/recovery;\n}\n"
                       "NFS_KRB5 {\n PrincipalName = \"nfs\";\n KeytabPath = " + d + "/service.keytab;\n"
                       " Active_krb5 = true;\n}\n"
                       "EXPORT {\n Export_Id = 1;\n Path = " + exportDir_ + ";\n Pseudo = /export;\n"
                       " Access_Type = RW;\n Squash = No_Root_Squash;\n SecType = sys, krb5, krb5i, krb5p;\n"
                       " Protocols = 3, 4;\n Transports = TCP, UDP;\n FSAL { Name = VFS; }\n" +
                           (privilegedPort ? " PrivilegedPort = true;\n" : "") + "}\n"
                       "LOG { Default_Log_Level = WARN; }\n")) {
            return fail("cannot write Ganesha's configuration");
        }
        if (withRpcbind && !rpcbind_.start({"/usr/sbin/rpcbind", "-f", "-w"})) return fail("rpcbind did not start");
        if (!portprobe::waitFor(111, std::chrono::seconds(3))) {
            return fail("rpcbind did not come up");
        }
        if (!ganesha_.start({"/usr/bin/ganesha.nfsd", "-F", "-p", d + "/ganesha.pid", "-f", d + "/ganesha.conf",
                             "-L", d + "/ganesha.log"}) ||
            !portprobe::waitFor(kNfsPort, std::chrono::seconds(10))) {
            return fail("Ganesha did not come up (see " + d + "/ganesha.log)");
        }
        return true;
    }
    const std::string& exportDir() const { return exportDir_; }
    const std::string& why() const { return why_; }
    ~Ganesha() {
        ganesha_.stop();
        rpcbind_.stop();
    }

  private:
    bool fail(const std::string& why) {
        why_ = why;
        return false;
    }
    testproc::Child rpcbind_;
    testproc::Child ganesha_;
    std::string exportDir_;
    std::string why_;
};

}  // namespace gsspeers
