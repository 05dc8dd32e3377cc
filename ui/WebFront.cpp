#include "ui/WebFront.h"

namespace zv::ui {

std::vector<web::JournalEntry> StationWebView::RecentJournal(std::size_t max) const {
  std::vector<web::JournalEntry> out;
  for (auto& l : r_.RecentJournal(max)) out.push_back({std::move(l.text), l.kind, l.objectId});
  return out;
}

WebFront::WebFront(StationRemote& remote, Journal& journal)
    : remote_(remote),
      journal_(journal),
      view_(remote),
      server_(std::make_unique<web::WebServer>(view_, [this](const std::string& text, int kind) {
        journal_.AddJournal(text, static_cast<JournalKind>(kind));
      })) {}

WebFront::~WebFront() {
  Stop();
}

bool WebFront::Apply(const remote::WebSettings& settings) {
  if (!settings.Enabled) {
    Stop();
    return true;
  }
  std::string error;
  if (server_->Start(settings, remote_.UsersFile(), error)) return true;
  journal_.ReportError("Веб-доступ не открыт: " + error + " !", jcWebView, 1);
  return false;
}

bool WebFront::ReloadAccounts() {
  std::string error;
  if (server_->ReloadAccounts(error)) return true;
  journal_.ReportError("Веб-доступ: учётные записи не прочитаны (" + error + ") !", jcWebView, 1);
  return false;
}

void WebFront::Stop() {
  if (server_->Running()) server_->Stop();
}

}  // namespace zv::ui
