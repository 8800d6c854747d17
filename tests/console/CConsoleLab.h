// The real main window in the namespace lab: a test of this kind runs twice. Outside, it
// builds a lab with tools/lab/orvane-lab.sh and runs the same test program, filtered to itself,
// in the lab's manager namespace; it passes when that run passed. Inside, the window runs with
// the real SLP library, the real login client and the credential service on port 51001, and the
// test drives it offscreen with clicks and keys.
#pragma once

#include "console/COrvaneSrvDlg.h"
#include "service/CCredentialService.h"
#include "tests/support/CTempDir.h"
#include "tests/tools/CLabTest.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CConsoleLab : public CLabTest {
protected:
    // True in the run inside the lab.
    static bool InLab();
    // Outside: builds the lab and runs the current test inside it with script's commands first
    // (e.g. a wait for registrations); fails with the inner run's output unless it passed, and
    // skips (see TestGate.h) where the inner run skipped. Lines of the inner run that begin
    // with "NOTE: " are passed on to the outer run's output.
    void RunInLab(const std::string& labArgs, const std::vector<std::string>& extra,
                  const std::string& config, const std::string& before = {});

    // Inside: the main window over a store of its own, its message boxes recorded and answered
    // with their default button, the credential service beside it serving docRoot (by default
    // the store's folder, so nothing of the build tree). Then Create and show.
    COrvaneSrvDlg& StartWindow(CLoginOptions login = {}, std::filesystem::path docRoot = {});
    // Inside: destroys the window (its shutdown order) and answers how long that took.
    std::chrono::milliseconds StopWindow();
    // Inside: the directory store of the window, for reading it through a connection of the
    // test's own; and its removal while no window runs, so that the next start is a first one.
    std::filesystem::path StoreFile() const;
    void WipeStore();
    // Inside: the audit trail that every window of the test records in.
    std::filesystem::path AuditFile() const;

    // Runs the window thread until done() or the time is up; answers done().
    static bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // The threads of this process now.
    static std::size_t ThreadCount();
    // Waits for the end of the pass under way (the first one after StartWindow): clicks Refresh,
    // which stays disabled until that pass is swept.
    bool WaitForPassEnd(std::chrono::milliseconds limit);

    // The System tab's row as "ip|system name|product|version|mac|auth".
    std::string RowText(std::size_t row) const;
    // Clicks the row's System name cell with the modifiers given (Ctrl adds to the selection).
    void ClickRow(std::size_t row, Qt::KeyboardModifiers modifiers = {}) const;
    // The Login button, then the Login Dialog filled in by keys and closed with Enter.
    void LoginWithKeys(const QString& user, const QString& password) const;

    const std::vector<CMessageBoxRequest>& Boxes() const { return m_boxes; }

private:
    CTempDir m_store;
    CTempDir m_auditDir; // apart from the store, which a test may wipe
    std::vector<CMessageBoxRequest> m_boxes;
    CCredentialService m_service;
    std::unique_ptr<COrvaneSrvApp> m_pApp;
    std::unique_ptr<COrvaneSrvDlg> m_pDialog;
};
