#include "AlbumFilter.h"

#include "Prompts.h"

namespace albumora::views {

AlbumFilter::AlbumFilter(store::Cursor& albums, QString historyPath) : albums_(albums), history_(std::move(historyPath)) {
    history_.load();
}

QString AlbumFilter::preset() const {
    return QStringLiteral("genre=\"") + albums_.text(QStringLiteral("GENRE")) + QLatin1Char('"');
}

bool AlbumFilter::apply(const QString& text) {
    auto* prompts = platform::desktop().prompts;
    if (text.trimmed().size() <= 2) return false;
    if (!albums_.validate(text)) {
        if (prompts) prompts->error(QStringLiteral("Invalid Filter Expression: \r") + text);
        return false;
    }
    albums_.setFiltered(true);
    store::Status st = albums_.setFilter(text);
    if (st) st = albums_.first();
    auto count = albums_.recordCount();
    if (st && count && *count > 0) {
        history_.add(text);
        history_.save();
        return true;
    }
    if (prompts) prompts->error(st && count ? QStringLiteral("Sorry, no records pass filter: \r") + text : (st ? count.error() : st).text());
    albums_.setFiltered(false);
    (void)albums_.first();  // best effort back to the top: the refusal above is what is told
    return false;
}

}  // namespace albumora::views
