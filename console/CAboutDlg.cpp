#include "console/CAboutDlg.h"

#include "platform/text/TextConv.h"
#include "platform/ui/IconFromSvg.h"
#include "platform/ui/NewChild.h"
#include "resources/DialogTemplates.h"
#include "resources/ProgramIcon.h"
#include "resources/ResourceIds.h"

#include <QLabel>

CAboutDlg::CAboutDlg(CTlsPortState tls, QWidget* parent)
    : CDialog(*FindDialogTemplate(IDD_ABOUTBOX), parent), m_tls(std::move(tls)) {}

std::string CAboutDlg::HttpsText(const CTlsPortState& tls) {
    switch (tls.eState) {
    case CTlsPortState::EState::Serving:
        return "HTTPS on port " + std::to_string(tls.nPort) + ", certificate SHA-256:";
    case CTlsPortState::EState::NotServed:
        return "HTTPS not served: " + tls.strReason;
    case CTlsPortState::EState::Off:
        break;
    }
    return "HTTPS not served";
}

bool CAboutDlg::OnInitDialog() {
    SetDlgItemText(IDC_ABOUT_HTTPS, Utf8ToUtf16(HttpsText(m_tls)));
    SetDlgItemText(IDC_ABOUT_FINGERPRINT, Utf8ToUtf16(m_tls.FingerprintLines()));
    return true;
}

QWidget* CAboutDlg::CreateControl(const CControlTemplate& control, QWidget& parent) {
    if (control.nId == IDC_ABOUT_FINGERPRINT) {
        // Users copy the fingerprint from here into their clients' pinning settings.
        auto* fingerprint = NewChild<QLabel>(&parent);
        fingerprint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        fingerprint->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return fingerprint;
    }
    if (control.kind != EControlKind::Icon) {
        return nullptr;
    }
    auto* icon = NewChild<QLabel>(&parent);
    icon->setPixmap(PixmapFromSvg(IconSvg(IDR_MAINFRAME), kIconPixels));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return icon;
}
