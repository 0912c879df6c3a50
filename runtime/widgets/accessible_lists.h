#pragma once
// What a screen reader learns about the drop-down lists. Every other control is named by its accessible
// name or by the label it is the buddy of; Qt names a drop-down list by its selected text instead (on
// Linux), and the field of an editable list by nothing. Here a list is named like every other control,
// and its field carries the list's name.

#include <QString>

class QComboBox;
class QWidget;

namespace vorsa::runtime {

// The list's accessible name, else the text of the label whose buddy it is (without the mnemonic's
// "&"), else empty.
QString list_name(const QComboBox& box);

// Makes every drop-down list of the application answer screen readers with the interface that names it
// by list_name (by its selected text when that is empty, as before). Call before the lists exist; more
// calls change nothing.
void install_accessible_lists();

// Gives the field of each editable drop-down list under `window` the list's name.
void name_list_fields(QWidget& window);

} // namespace vorsa::runtime
