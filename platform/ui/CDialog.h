// A dialog window built from a template: fixed size, controls at their places, the default
// button set. DoModal builds it, lets the subclass initialise it (OnInitDialog), runs it modally
// and answers IDOK or IDCANCEL; Esc, the close box and the Cancel button (IDCANCEL) come to
// OnCancel, the OK button (IDOK) and Enter on the default OK button to OnOK. Other push buttons
// come to OnCommand with their identifiers.
#pragma once

#include "platform/ui/CDialogControls.h"

#include <QDialog>

class CDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDOK = 1;
    static constexpr int IDCANCEL = 2;

    explicit CDialog(const CDialogTemplate& dialogTemplate, QWidget* parent = nullptr);

    // Builds and initialises the window once, without showing it.
    void Create();
    // Runs the dialog modally; answers the identifier it was ended with.
    int DoModal();
    void EndDialog(int nResult);
    // The window goes away: OnDestroy runs once.
    void DestroyWindow();

    const CDialogControls& Controls() const { return m_controls; }
    const CDialogUnits& Units() const { return m_controls.Units(); }
    QWidget* GetDlgItem(int id) const { return m_controls.Item(id); }
    std::u16string GetDlgItemText(int id) const { return m_controls.GetText(id); }
    void SetDlgItemText(int id, std::u16string_view text) { m_controls.SetText(id, text); }
    void EnableDlgItem(int id, bool bEnable) { m_controls.Enable(id, bEnable); }

    void accept() override;
    void reject() override;

protected:
    virtual bool OnInitDialog() { return true; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnCommand(int /*id*/) {}
    virtual void OnDestroy() {}
    // Makes controls of kinds the builder leaves to the dialog; nullptr for the builder's own.
    virtual QWidget* CreateControl(const CControlTemplate& /*control*/, QWidget& /*parent*/) {
        return nullptr;
    }

private:
    void Dispatch(int id);
    void CentreOnScreen();

    const CDialogTemplate& m_template;
    CDialogControls m_controls;
    bool m_bCreated = false;
    bool m_bDestroyed = false;
};
