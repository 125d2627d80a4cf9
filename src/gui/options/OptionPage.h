#pragma once
// What the pages of the options sheet share: the changed mark that tells the
// sheet to apply the page, the exchange and validation of the page's number
// fields, and a set-up that runs once, when the page is first shown.

#include <QWidget>
#include <cstdint>

class QLineEdit;

class OptionPage : public QWidget {
    Q_OBJECT
public:
    explicit OptionPage(QWidget* parent = nullptr);

    // Reads the page's fields into its values and validates them. On a bad
    // field it shows the standard message, puts the focus in the field and
    // returns false; the page must then stay open.
    virtual bool UpdateData() { return true; }

    // Runs the page's set-up unless it has already run.
    void EnsureInitialized();
    bool IsInitialized() const { return m_bInitialized; }

    int32_t m_bModified = 0;

signals:
    void changed();  // the page now holds a change to apply

protected:
    virtual void OnInitDialog() {}
    void SetModified();
    void showEvent(QShowEvent* event) override;

    // The integer in the field, within low..high; otherwise "Please enter an
    // integer." or "Please enter an integer between low and high." and false.
    static bool ExchangeInt(QLineEdit& edit, int low, int high, int32_t& value);

private:
    bool m_bInitialized = false;
};
