// Bridge client for extension pages.
