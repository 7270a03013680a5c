#pragma once
// The IPv4 address control: four octet fields between dots, one tab stop.
// Typing three digits or a dot moves on to the next field, Backspace in an
// empty field moves back. A dot typed right after a move by the third digit
// is taken as that move's dot, so an address typed with its dots lands as
// typed. Tab and Shift+Tab leave the control from any field. A blank field
// reads as 0.

#include <QFrame>
#include <array>
#include <cstdint>

class QLabel;
class QLineEdit;

class CIPAddressCtrl : public QFrame {
    Q_OBJECT
public:
    explicit CIPAddressCtrl(QWidget* parent = nullptr);

    // Host byte order: the first octet is the most significant byte.
    void SetAddress(std::uint32_t address);
    // Returns how many fields are not blank; blank fields count as 0.
    int GetAddress(std::uint32_t& address) const;
    void ClearAddress();
    bool IsBlank() const;

    QLineEdit* Field(int index) const { return m_fields[static_cast<std::size_t>(index)]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void LayOut();
    void UpdateBackground();
    int IndexOf(QObject* field) const;
    void FocusField(int index, bool atStart);
    void LeaveBackwards();

    std::array<QLineEdit*, 4> m_fields{};
    std::array<QLabel*, 3> m_dots{};
    int m_enteredByDigit = -1;  // the field the third digit moved to, until its next key
};
