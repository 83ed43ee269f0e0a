#pragma once

// One check over the air: listens until the module is heard as set up or the time is up,
// and tells the verdict. The decisions are the matcher's; this carries them out with a
// scanner and a timer.

#include "AirMatch.h"
#include "AirScanner.h"

#include <QObject>
#include <QTimer>

#include <optional>
#include <string>

namespace qz {

class AirCheck : public QObject {
    Q_OBJECT

public:
    explicit AirCheck(QObject* parent = nullptr);

    // Starts listening for what the expectation says, for seconds at most once listening
    // began (started); failed says why it could not, and no verdict comes then.
    void start(const air::Expectation& expectation, int seconds, const std::string& adapter);
    // Ends it now, stopped by the user: the verdict says so, whatever was heard.
    void stop();
    bool running() const;

signals:
    void started();
    void finished(const qz::air::Verdict& verdict);
    // Nothing could be heard, or nothing any more (no BlueZ, the adapter switched off): no
    // verdict comes, and listening has ended.
    void failed(const std::string& why);

private:
    void heard(const air::HeardDevice& device);
    void lose(const std::string& why);
    void end();
    void finish(const air::Verdict& verdict);

    AirScanner scanner_;
    QTimer deadline_;
    std::optional<air::Listening> listening_;
    int seconds_ = 0;
};

} // namespace qz

Q_DECLARE_METATYPE(qz::air::Verdict)
