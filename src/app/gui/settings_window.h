#pragma once
// The settings window: one tab per area (transcription, destination,
// correction, organization, models). Changes apply at once; the engine saves
// them shortly after the last one.

#include <QWidget>

class CorrectionPage;
class DestinationPage;
class ModelsPage;
class OrganizationPage;
class QTabWidget;
class Transcriber;
class TranscriptionPage;

class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    explicit SettingsWindow(Transcriber &engine, QWidget *parent = nullptr);

    QTabWidget *tabs() const { return m_tabs; }
    TranscriptionPage *transcriptionPage() const { return m_transcription; }
    DestinationPage *destinationPage() const { return m_destination; }
    CorrectionPage *correctionPage() const { return m_correction; }
    OrganizationPage *organizationPage() const { return m_organization; }
    ModelsPage *modelsPage() const { return m_models; }

private:
    void refresh();

    QTabWidget *m_tabs;
    TranscriptionPage *m_transcription;
    DestinationPage *m_destination;
    CorrectionPage *m_correction;
    OrganizationPage *m_organization;
    ModelsPage *m_models;
};
