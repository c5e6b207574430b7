# Sources of src/history: QV_CORE_SOURCES (pure), QV_PLATFORM_SOURCES, QV_APP_SOURCES (GTK/WebKit).
