#pragma once

// MainWindow: the program's one window and the controller of everything the
// user does. It switches between idle (no run) and running, starts a run from
// the two images, hands every published snapshot to the view, keeps the
// view-mode radio buttons and actions in step, and saves and loads the
// configuration file.
//
// A run is a SimThread owned by the window, driven only through its own
// methods: stop, pause, step-rate limit, and frames taken as copies (never
// waiting for a step).
//
// The live view never holds the worker back: the window asks the worker for a
// frame, shows it when it comes, and asks for the next one only after
// kFrameIntervalMs (about what a screen shows). The worker runs at idle
// priority, so every cycle the GUI spends is taken from it: where a frame is
// expensive (a software renderer, a large grid) the interval grows to
// kFrameShare times the last frame's cost. The cost measured is the GUI
// thread's alone; the display server and a software renderer's own threads
// about double it, so a share of 1/16 keeps what the frames take from the
// worker to well under a tenth.

#include "colourpicture.h"
#include "configfile.h"
#include "recorder.h"
#include "scheme.h"
#include "simframe.h"
#include "targetpreview.h"
#include "windowactions.h"

#include <QFutureWatcher>
#include <QMainWindow>

#include <optional>

class SimThread;
namespace velloran {
struct RunDensities;
class TargetSchedule;
} // namespace velloran
class Ui_MainWindow;
class QLabel;
class QLineEdit;
class QTimer;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    MainWindow(const MainWindow &) = delete;
    MainWindow &operator=(const MainWindow &) = delete;

    // The current run, null while idle (read by tests and tools).
    SimThread *simulation() const { return simThread; }

    static constexpr int kFrameIntervalMs = 16;
    static constexpr int kFrameShare = 16;

    // Shortest time between two frames, in milliseconds, given the cost of
    // the last one.
    static int frameInterval(double lastFrameMs);

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_pushButton_LoadConf_clicked();
    void on_pushButton_SaveConf_clicked();
    void on_pushButton_Start_clicked();
    void on_pushButton_StartRev_clicked();
    void on_pushButton_Stop_clicked();
    void on_actionDensity_triggered();
    void on_actionVelocity_triggered();
    void on_radioButton_Density_clicked();
    void on_radioButton_Velocity_clicked();
    void on_radioButton_Density_toggled(bool checked);
    void on_pushButton_More_clicked(bool checked);
    void on_pushButton_LoadSrc_clicked();
    void on_pushButton_LoadTgt_clicked();
    void on_pushButton_Swap_clicked();
    void on_pushButton_LoadObst_clicked();
    void on_pushButton_ClearObst_clicked();
    void on_actionAbout_triggered();
    void on_actionAboutQt_triggered();
    // The run's three slots are connected explicitly when a run starts; no
    // child named after the thread exists when setupUi connects by name.
    void simThreadFinished();
    void simThreadStepCompleted();
    void simThreadFpsUpdated(float fps);

    // The commands the window adds to its form, connected explicitly.
    void pauseToggled(bool checked);
    void openExample(QAction *action);
    void exportFrameTriggered();
    void recordToggled(bool checked);
    void recordingFinished();
    void recordingFailed(const QString &error);
    void speedChosen(QAction *action);

    void showNewestFrame();
    void requestFrame();
    void readTargetPreview();
    void showTargetPreview();

private:
    void setControlsEnabled(bool enabled);
    // The open-file dialog for an image; the name chosen goes into `field`.
    void chooseImage(QLineEdit *field, const QString &caption);
    void offerReverse();
    // A colour run takes its images from its configuration: while one is
    // loaded the image fields and their commands are disabled, and say why.
    void offerImages();
    // A colour run's fields and picture from the configuration's <colour>,
    // and with keyframes one target schedule per field; false after a warning.
    bool loadColourInputs(bool reverse, std::vector<velloran::RunDensities> *fields,
                          velloran::ColourPicture *picture,
                          std::vector<std::unique_ptr<velloran::TargetSchedule>> *schedules);
    bool loadFieldInputs(bool reverse, std::vector<velloran::RunDensities> *fields,
                         velloran::ColourPicture *picture);
    void clearLastRun();
    // The obstacle image of the path field made into the run's mask (none
    // when the field is empty); false, after a warning, when the run cannot
    // have it.
    bool loadRunObstacles(const velloran::RunDensities &densities, std::optional<Grid> *mask);
    bool loadRunInputs(bool reverse, velloran::RunDensities *densities,
                       std::unique_ptr<velloran::TargetSchedule> *schedule);
    void startSimulation(bool reverse);
    // A file read by Load or Open Example: applied, or a warning naming `name`.
    void applyConfigurationFile(const QString &name, const velloran::ConfigReadResult &result);
    void applyConfiguration(const velloran::Configuration &configuration);
    void setMoreText();
    // Redraws the target preview (once) after every change that can alter it.
    void watchTargetPreview();
    // The warning box titled "Velloran"; `details`, when given, below the text.
    void warn(const QString &text, const QString &details = QString());
    velloran::Scheme chosenScheme() const;
    void chooseScheme(velloran::Scheme scheme);

    void reportInstability(std::int64_t step);
    QString recordingTitle() const;
    void startRecording(const QString &title);
    void stopRecording();
    void setRecordChecked(bool checked);

    Ui_MainWindow *ui;
    WindowActions actions;
    QLabel *runStatus; // the status bar's permanent widget on the right
    SimThread *simThread;
    QTimer *frameTimer;   // asks for the next frame when the interval is over
    QTimer *previewTimer; // redraws the target preview once changes settle
    QFutureWatcher<TargetPreview> *previewWatcher; // the preview being read
    bool previewStale = false;                     // changed while being read
    SimFrame frame;                     // the frame shown (grids reused from frame to frame)
    std::optional<Grid> frameObstacles; // the obstacles of the run shown, framed
    double stepRateLimit = 0.0;         // of the Speed submenu; 0: full speed
    // The further targets of the configuration loaded last: run by Start and
    // written back by Save. A configuration without them clears them.
    std::vector<velloran::KeyframeEntry> keyframes;
    // The <colour> of the configuration loaded last (none: a grey run), run
    // by Start and written back by Save as it was read.
    std::optional<velloran::ColourConfiguration> colour;
    // The picture of the run shown, when it is a colour run.
    std::optional<velloran::ColourPicture> framePicture;
    // Recording: the settings of the Record... dialog, the recorder of the
    // run under way, and recorders still writing their last files.
    Recorder::Settings recordSettings;
    std::shared_ptr<Recorder> recorder;
    std::vector<std::shared_ptr<Recorder>> finishingRecorders;
};
