// A photo shown large in the page's dialog, through the view's PhotoSet.

export function showPhoto(photos, path, caption) {
  const dialog = document.getElementById("photo-dialog");
  const img = document.getElementById("photo-large");
  img.removeAttribute("src");
  document.getElementById("photo-caption").textContent = caption || "";
  photos.show(img, path);
  if (!dialog.open) dialog.showModal();
}

// A thumbnail that opens the large photo when clicked.
export function thumbnail(photos, path, caption) {
  const img = document.createElement("img");
  img.className = "thumb";
  img.alt = caption || "Photo";
  img.dataset.test = "thumbnail";
  img.tabIndex = 0;
  photos.show(img, path);
  const open = () => showPhoto(photos, path, caption);
  img.addEventListener("click", open);
  img.addEventListener("keydown", (e) => { if (e.key === "Enter") open(); });
  return img;
}
