# Sources of src/profiles: QV_CORE_SOURCES (pure), QV_PLATFORM_SOURCES, QV_APP_SOURCES (GTK/WebKit).
