// A page of a tab control built from a child template: no frame, the template's size, controls at
// their places. Create builds it into its parent and runs OnInitDialog; DestroyWindow runs
// OnDestroy once. Push buttons come to OnCommand with their identifiers. Timers by identifier
// come to OnTimer.
#pragma once

#include "platform/ui/CDialogControls.h"
#include "platform/ui/CTimerTable.h"

#include <QWidget>

class CDialogPage : public QWidget {
    Q_OBJECT
public:
    explicit CDialogPage(const CDialogTemplate& dialogTemplate);

    void Create(QWidget& parent);
    void DestroyWindow();

    const CDialogControls& Controls() const { return m_controls; }
    const CDialogUnits& Units() const { return m_controls.Units(); }
    QWidget* GetDlgItem(int id) const { return m_controls.Item(id); }
    std::u16string GetDlgItemText(int id) const { return m_controls.GetText(id); }
    void EnableDlgItem(int id, bool bEnable) { m_controls.Enable(id, bEnable); }

    // False when the timer cannot be set.
    virtual bool SetTimer(int nIDEvent, int nElapseMs) {
        return m_timers.SetTimer(nIDEvent, nElapseMs);
    }
    bool KillTimer(int nIDEvent) { return m_timers.KillTimer(nIDEvent); }
    bool IsTimerSet(int nIDEvent) const { return m_timers.IsSet(nIDEvent); }

protected:
    virtual bool OnInitDialog() { return true; }
    virtual void OnCommand(int /*id*/) {}
    virtual void OnTimer(int /*nIDEvent*/) {}
    virtual void OnDestroy() {}

    void timerEvent(QTimerEvent* event) override;

private:
    const CDialogTemplate& m_template;
    CDialogControls m_controls;
    CTimerTable m_timers{*this};
    bool m_bCreated = false;
    bool m_bDestroyed = false;
};
