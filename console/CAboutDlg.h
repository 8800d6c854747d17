// The About box: the program icon, the version line, a line saying what the program is, and the
// HTTPS port with its certificate's SHA-256 fingerprint (or why it is not served), so that
// users can be told what to pin.
#pragma once

#include "platform/ui/CDialog.h"
#include "service/listener/CTlsPortState.h"

#include <string>

class CAboutDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int kIconPixels = 32;

    explicit CAboutDlg(CTlsPortState tls, QWidget* parent = nullptr);

    // The line above the fingerprint.
    static std::string HttpsText(const CTlsPortState& tls);

protected:
    bool OnInitDialog() override;
    QWidget* CreateControl(const CControlTemplate& control, QWidget& parent) override;

private:
    CTlsPortState m_tls;
};
