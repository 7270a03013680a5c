#pragma once
// The "Operation" page: the firmware path, Download, Break and the progress.
// It owns the channel of every download and is the download worker's context.

#include <atomic>
#include <cstdint>
#include <string>

#include "comm/comm_channel.h"
#include "download/download_context.h"
#include "platform/event.h"
#include "ui/property_page.h"

class CMySheet;
class QProgressBar;

class CPage2 : public CPropertyPage, public DownloadContext {
    Q_OBJECT
public:
    CPage2();
    ~CPage2() override;

    CMySheet* m_pSheet = nullptr;
    CCommChannel m_channel;
    std::string m_strFirmware;
    QProgressBar* m_progress = nullptr;
    platform::Event m_hStopEvent{platform::ResetMode::Auto, false};
    platform::Event m_hIdleEvent{platform::ResetMode::Manual, true};
    std::atomic<std::uint8_t> m_bBusy{0};
    // 1 when no stop-wait runs and the page may be closed.
    std::atomic<std::uint8_t> m_bReady{1};

    void OnDownload();
    void OnBreak();
    void OnOpenFile();
    static unsigned StopWaitThread(CPage2* page);

    // The main window's exit: from now on Download is refused; then the Break
    // steps.
    void BreakForExit();
    // No stop-wait runs and no download: the page may be destroyed.
    bool MayClose();

    // DownloadContext
    std::string FirmwarePath() const override { return m_strRunPath; }
    CCommChannel& Channel() override { return m_channel; }
    platform::Event& StopEvent() override { return m_hStopEvent; }
    platform::Event& IdleEvent() override { return m_hIdleEvent; }
    std::atomic<std::uint8_t>& BusyFlag() override { return m_bBusy; }
    void SetProgress(int percent) override;
    void OnDownloadStarted() override;
    void OnDownloadEnded() override;
    void ShowMessage(const std::string& text, MessageStyle style) override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;

private:
    void RunBreakSteps();
    void SetButtonsIdle();
    void EnableSetup(bool enable);

    // The path of the run under way, taken when it started: the edit may be
    // stored again (leaving the page) while the worker reads it.
    std::string m_strRunPath;
    bool m_bExiting = false;
};
