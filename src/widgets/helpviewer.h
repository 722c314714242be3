// The window that shows the help file, one instance reused for every request.
#pragma once

#include <QString>
#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QTextBrowser;

namespace corvane {

class HelpViewer : public QWidget {
    Q_OBJECT
public:
    explicit HelpViewer(QWidget* parent = nullptr);

    // Loads the file (HTML, one anchor named by its number per topic) unless it is loaded
    // already. False, with errorText set, when it cannot be read.
    bool load(const QString& path);
    // Goes to the topic, the contents when the file has no such topic; Back returns from it.
    void showTopic(int context);

    int currentContext() const { return context_; } // 0: the contents
    bool hasTopic(int context) const;
    QString errorText() const { return error_; }
    QTextBrowser* browser() const { return browser_; }
    QLineEdit* findField() const { return find_; }
    QAction* backAction() const { return back_; }
    QAction* forwardAction() const { return forward_; }

    // Selects the next match of the find field's text after the current one, from the top
    // again past the last; every match is highlighted. False when the text does not occur.
    bool findNext();

private:
    bool findFrom(int position);
    int searchStart(int position) const;
    void highlightMatches();

    QTextBrowser* browser_;
    QAction* back_;
    QAction* forward_;
    QLineEdit* find_;
    QLabel* findState_;
    QString path_;
    QString html_;
    QString error_;
    int context_ = 0;
};

// The viewer showHelp uses; nullptr until the first request.
HelpViewer* helpViewer();

} // namespace corvane
