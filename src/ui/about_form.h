#pragma once
// The about box: program name, and where to reach the makers.
#include <QDialog>

class QLabel;

namespace ts::ui {

class Prompts;

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    static constexpr char kSupportMail[] = "support@tessaly.example";
    static constexpr char kWebsite[] = "https://tessaly.example/";

    explicit TAboutForm(Prompts& prompts, QWidget* parent = nullptr);
    void ContactLabelClick();
    void WebsiteLabelClick();

private:
    Prompts& prompts_;
};

}  // namespace ts::ui
