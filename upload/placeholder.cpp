// The upload library; sources arrive with the upload logic.
