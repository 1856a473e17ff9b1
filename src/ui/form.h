#pragma once

#include "ui/design.h"
#include "ui/navigator.h"
#include "ui/session.h"

#include <QWidget>

#include <vector>

namespace tarlivo::ui {

// A top-level window built from its design. The design fixes every control's
// place, caption, tab order and first visibility; the subclass adds behaviour and
// keeps its controls to itself.
class Form : public QWidget {
    Q_OBJECT
public:
    Form(const FormDesign &design, WindowId id, Session &session, Navigator &navigator);

    const FormDesign &design() const { return m_design; }
    WindowId id() const { return m_id; }

    // Shows the window without waiting for it. The first showing places it as
    // designed (centred or maximised) and puts the focus on the first control in
    // tab order that can take it.
    void showForm();

    // Run by the registry right after creation, and just before unloading.
    virtual void formLoad() {}
    virtual void formUnload() {}

protected:
    // The control of that name, as built from the design.
    template <class T>
    T *control(const char *name) const
    {
        return findChild<T *>(QString::fromUtf8(name), Qt::FindDirectChildrenOnly);
    }

    Session &session() const { return m_session; }
    Navigator &navigator() const { return m_navigator; }
    void closeEvent(QCloseEvent *event) override;

private:
    void build();
    std::vector<QWidget *> tabOrder() const;

    const FormDesign &m_design;
    const WindowId m_id;
    Session &m_session;
    Navigator &m_navigator;
    bool m_placed = false;
};

} // namespace tarlivo::ui
