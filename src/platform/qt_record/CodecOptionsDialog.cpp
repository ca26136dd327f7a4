// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_record/CodecOptionsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

namespace tavrin::qt_record {

using record::CodecOption;

namespace {

int clampToInt(double v) {
    if (!(v == v))
        return 0;
    return static_cast<int>(std::clamp(v, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

} // namespace

CodecOptionsDialog::CodecOptionsDialog(QWidget* owner, const std::string& title,
                                       const std::vector<CodecOption>& options)
    : QDialog(owner) {
    setWindowTitle(QString::fromStdString("Configure " + title));
    auto* form = new QFormLayout;
    for (const CodecOption& option : options) {
        Row row;
        row.option = option;
        const QString tip = QString::fromStdString(option.help);
        switch (option.kind) {
        case CodecOption::Kind::Integer: {
            auto* box = new QSpinBox;
            box->setRange(clampToInt(option.minimum), clampToInt(option.maximum));
            row.read = [box] { return std::to_string(box->value()); };
            row.write = [box](const std::string& v) { box->setValue(clampToInt(std::atof(v.c_str()))); };
            row.editor = box;
            break;
        }
        case CodecOption::Kind::Real: {
            auto* box = new QDoubleSpinBox;
            box->setDecimals(3);
            box->setRange(std::max(option.minimum, -1e9), std::min(option.maximum, 1e9));
            row.read = [box] { return std::to_string(box->value()); };
            row.write = [box](const std::string& v) { box->setValue(std::atof(v.c_str())); };
            row.editor = box;
            break;
        }
        case CodecOption::Kind::Boolean: {
            // Values as libavutil writes them; "auto" only where the option has it.
            auto* box = new QComboBox;
            if (option.minimum < 0)
                box->addItem(QStringLiteral("auto"), QStringLiteral("auto"));
            box->addItem(QStringLiteral("false"), QStringLiteral("false"));
            box->addItem(QStringLiteral("true"), QStringLiteral("true"));
            row.read = [box] { return box->currentData().toString().toStdString(); };
            row.write = [box](const std::string& v) {
                QString value = QString::fromStdString(v);
                if (value == QLatin1String("0"))
                    value = QStringLiteral("false");
                else if (value == QLatin1String("1"))
                    value = QStringLiteral("true");
                else if (value == QLatin1String("-1"))
                    value = QStringLiteral("auto");
                box->setCurrentIndex(std::max(0, box->findData(value)));
            };
            row.editor = box;
            break;
        }
        case CodecOption::Kind::Choice: {
            auto* box = new QComboBox;
            for (const auto& choice : option.choices)
                box->addItem(QString::fromStdString(choice.name), QString::fromStdString(choice.help));
            row.read = [box] { return box->currentData().toString().toStdString(); };
            row.write = [box](const std::string& v) {
                int i = box->findData(QString::fromStdString(v));
                if (i < 0) { // a value without a name of its own
                    box->addItem(QString::fromStdString(v), QString::fromStdString(v));
                    i = box->count() - 1;
                }
                box->setCurrentIndex(i);
            };
            row.editor = box;
            break;
        }
        case CodecOption::Kind::Flags: {
            auto* group = new QWidget;
            auto* layout = new QVBoxLayout(group);
            layout->setContentsMargins(0, 0, 0, 0);
            std::vector<std::pair<QCheckBox*, long long>> boxes;
            for (const auto& choice : option.choices) {
                auto* check = new QCheckBox(QString::fromStdString(choice.name));
                layout->addWidget(check);
                boxes.emplace_back(check, std::atoll(choice.help.c_str()));
            }
            row.read = [boxes] {
                long long v = 0;
                for (const auto& [check, bit] : boxes)
                    if (check->isChecked())
                        v |= bit;
                return std::to_string(v);
            };
            row.write = [boxes](const std::string& v) {
                const long long value = std::atoll(v.c_str());
                for (const auto& [check, bit] : boxes)
                    check->setChecked(bit != 0 && (value & bit) == bit);
            };
            row.editor = group;
            break;
        }
        case CodecOption::Kind::Text: {
            auto* edit = new QLineEdit;
            row.read = [edit] { return edit->text().toStdString(); };
            row.write = [edit](const std::string& v) { edit->setText(QString::fromStdString(v)); };
            row.editor = edit;
            break;
        }
        }
        row.editor->setObjectName(QString::fromStdString(option.name));
        row.editor->setToolTip(tip);
        row.write(option.value);
        row.initial = row.read();
        auto* label = new QLabel(QString::fromStdString(option.name));
        label->setToolTip(tip);
        form->addRow(label, row.editor);
        rows_.push_back(std::move(row));
    }

    auto* inner = new QWidget;
    inner->setLayout(form);
    auto* scroll = new QScrollArea;
    scroll->setWidget(inner);
    scroll->setWidgetResizable(true);
    scroll->setMinimumWidth(std::min(560, inner->sizeHint().width() + 30));
    scroll->setMinimumHeight(std::min(440, inner->sizeHint().height() + 10));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                         QDialogButtonBox::RestoreDefaults);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this,
            &CodecOptionsDialog::restoreDefaults);

    auto* layout = new QVBoxLayout(this);
    if (rows_.empty())
        layout->addWidget(new QLabel(QStringLiteral("This compressor has no settings of its own.")));
    else
        layout->addWidget(scroll);
    layout->addWidget(buttons);
}

std::vector<CodecOption> CodecOptionsDialog::values() const {
    std::vector<CodecOption> out;
    for (const Row& row : rows_) {
        CodecOption option = row.option;
        const std::string shown = row.read();
        // A field the user left alone gives the value back exactly as it came, even
        // where the field cannot show it as it is (a number beyond the field's range).
        if (shown != row.initial)
            option.value = shown;
        out.push_back(std::move(option));
    }
    return out;
}

void CodecOptionsDialog::restoreDefaults() {
    for (Row& row : rows_)
        row.write(row.option.defaultValue);
}

QWidget* CodecOptionsDialog::field(const std::string& name) const {
    for (const Row& row : rows_)
        if (row.option.name == name)
            return row.editor;
    return nullptr;
}

} // namespace tavrin::qt_record
