// The upload threads of the web service and the way their results reach
// browsers: every try's result goes to every open connection, sent from the
// web thread.
#include <algorithm>

#include "base/logger.h"
#include "ukit/olva_mgr.h"

void COlvaMgr::start_uploads(const UploadTimeouts& timeouts)
{
    upload_queue_.read_upload_from_file(upload_file_path());
    upload_worker_ = std::make_unique<UploadWorker>(
        upload_queue_, timeouts, [this](const UploadReport& report) { report_upload(report); });
    plain_uploads_ = std::make_unique<PlainUploadThread>(timeouts);
    upload_worker_->start();
    plain_uploads_->start();
}

void COlvaMgr::stop_uploads()
{
    if (upload_worker_)
        upload_worker_->stop();
    if (plain_uploads_)
        plain_uploads_->stop();
    upload_worker_.reset();
    plain_uploads_.reset();
    // The file keeps the jobs for the next start.
    upload_queue_.clear();
}

void COlvaMgr::report_upload(const UploadReport& report)
{
    post_to_web([this, report] {
        for (const auto& c : ws_connections_) {
            if (report.form)
                send_upload_result(*c, report.result);
            else
                send_notiy_msg(*c, "UploadFileEx", 0, report.code);
        }
    });
}

std::weak_ptr<web::WsConnection> COlvaMgr::shared_connection(const web::WsConnection& c) const
{
    const auto found = std::ranges::find_if(ws_connections_, [&](const auto& open) { return open.get() == &c; });
    return found == ws_connections_.end() ? nullptr : *found;
}
