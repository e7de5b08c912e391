#pragma once

// The About box: the program's icon, name and version, the maker, and two links, one to the
// maker's web site and one to its support page. OK or Escape closes it.

#include <QDialog>

class HyperlinkLabel;

namespace AboutDialogIds {
inline constexpr int kOk = 1;
inline constexpr int kWebsite = 1049;
inline constexpr int kSupport = 1050;
}  // namespace AboutDialogIds

// The maker's addresses behind the two links.
inline constexpr const char* kMakerWebsite = "https://www.orvanta.example.com/";
inline constexpr const char* kMakerSupportPage = "https://www.orvanta.example.com/support/";

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);

    HyperlinkLabel* websiteLabel = nullptr;
    HyperlinkLabel* supportLabel = nullptr;

private:
    bool OnInitDialog();
};
